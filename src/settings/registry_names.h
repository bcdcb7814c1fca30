#pragma once

// The names under which the program keeps its settings; stored files and other tools rely on them.
namespace tiv::names {

inline constexpr const char* software = "Software";
inline constexpr const char* version_key = "Version 1.2";
inline constexpr const char* program_key = "Velmora\\Quorvel";
inline constexpr const char* installation_directory = "InstallationDirectory";
inline constexpr const char* external_name = "ExternalName";
inline constexpr const char* interface_ip_address = "InterfaceIPAddress";
inline constexpr const char* interface_ip_port = "InterfaceIPPort";
inline constexpr const char* io_block_size = "IOBlockSize";
inline constexpr const char* current_csp = "CurrentCSP";
inline constexpr const char* current_csp_sk_caps = "CurrentCSPSKCaps";
inline constexpr const char* enabled_sk_caps = "EnabledSKCaps";
inline constexpr const char* user_name = "UserName";
inline constexpr const char* user_uuid = "UserUUID";
inline constexpr const char* parcel_box_directory_root = "ParcelBoxDirectoryRoot";
// Days the kept part of a broken transfer waits for the same file to be sent again; 0 keeps none (no resume).
inline constexpr const char* kept_part_days = "KeptPartDays";
inline constexpr const char* profile_list = "ProfileList";
inline constexpr const char* profile_name = "ProfileName";
inline constexpr const char* profile_uuid = "ProfileUUID";
inline constexpr const char* parcel_receipt_enabled = "ParcelReceiptEnabled";
inline constexpr const char* receipt_directory = "ReceiptDirectory";
inline constexpr const char* ip_address = "IPAddress";
inline constexpr const char* ip_port = "IPPort";
inline constexpr const char* encryption_method = "EncryptionMethod";
inline constexpr const char* public_key_bits = "PublicKeyBits";
inline constexpr const char* public_key_bytes = "PublicKeyBytes";
inline constexpr const char* public_key = "PublicKey";
inline constexpr const char* max_file_size = "MaxFileSize";
inline constexpr const char* max_file_count = "MaxFileCount";
inline constexpr const char* setup_complete = "SetupComplete";
inline constexpr const char* first_run = "FirstRun V1.2";
// The friend's signature public key (PUBLICKEYBLOB); a friend that has one is pinned to the TLS exchange.
inline constexpr const char* signature_key = "SignatureKey";
// Machine policy: 0 refuses the old four-record exchange from everyone; missing counts as 1.
inline constexpr const char* legacy_exchange = "LegacyExchange";
// Machine policy: 0 never asks the home router to forward the listening port; missing counts as 1.
inline constexpr const char* port_mapping = "PortMapping";
// Machine: the seconds a router is asked to keep the mapping (missing means 3600); it is renewed at half of them.
inline constexpr const char* port_mapping_lifetime = "PortMappingLifetime";
// User policy: 0 keeps a friend's stored address when the friend says it changed; missing counts as 1.
inline constexpr const char* follow_friend_addresses = "FollowFriendAddresses";
// Beside a friend's profile: 0 refuses the friend's messages, 1 shows them; missing follows "ParcelReceiptEnabled".
inline constexpr const char* accept_messages = "AcceptMessages";
// Beside a friend's profile: the words of the last change of its address the friend told ("Bob's address changed
// from A:P to B:Q"), for Friend Status.
inline constexpr const char* address_change = "AddressChange";
// Below the user's key: the parcels sent and received, a value for each batch of rows that ended together.
inline constexpr const char* history = "History";
// User: the days the parcel history keeps a row (missing means 30); 0 keeps none.
inline constexpr const char* history_days = "HistoryDays";
// User: 0 lets closing the desktop program's main window quit it even where a tray could keep it receiving;
// missing counts as 1.
inline constexpr const char* keep_receiving_in_background = "KeepReceivingInBackground";
// User: 1 once the desktop program has told that closing its window left it receiving in the tray.
inline constexpr const char* background_notice_given = "BackgroundNoticeGiven";
// Machine policy: 0 keeps the listener from announcing itself on the LAN (DNS-SD); missing counts as 1.
inline constexpr const char* lan_announce = "LanAnnounce";

// The provider layer that stands in for the Windows cryptographic service provider.
inline constexpr const char* default_provider_name = "Quorvel OpenSSL RSA and AES Provider";

} // namespace tiv::names
