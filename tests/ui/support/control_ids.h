#pragma once

#include <algorithm>
#include <iterator>
#include <string_view>

namespace tiv::test {

// The numeric control ids of the program Quorvel replaces, where a test states a rule in them (which controls a
// dialog's state enables), and the object names the controls carry here.
struct ControlId {
    std::string_view window; // the window's object name
    int id;
    const char* name;
};

inline constexpr ControlId control_ids[] = {
    {"profileDialog", 1, "doneButton"},
    {"profileDialog", 1009, "profileNamesList"},
    {"profileDialog", 1011, "profileNameEdit"},
    {"profileDialog", 1012, "addressEdit"},
    {"profileDialog", 1013, "editKeyButton"},
    {"profileDialog", 1015, "keyText"},
    {"profileDialog", 1016, "saveButton"},
    {"profileDialog", 1017, "maxSizeCombo"},
    {"profileDialog", 1018, "maxCountCombo"},
    {"profileDialog", 1019, "newButton"},
    {"profileDialog", 1020, "editButton"},
    {"profileDialog", 1021, "receiptCheck"},
    {"profileDialog", 1022, "deleteButton"},
    {"profileDialog", 1023, "keyTypesList"},
    {"profileDialog", 1024, "keyBitsEdit"},
    {"profileDialog", 1030, "portEdit"},
    {"profileDialog", 1031, "cancelButton"},
    {"profileDialog", 1044, "uuidEdit"},
    {"profileDialog", 1054, "editKeyTypesButton"},
    {"profileDialog", 1062, "importButton"},
};

// The object name of control `id` in `window`; null when the table has no such control.
inline const char* control_name(std::string_view window, int id) {
    const auto found = std::find_if(std::begin(control_ids), std::end(control_ids),
                                    [&](const ControlId& entry) { return entry.window == window && entry.id == id; });
    return found == std::end(control_ids) ? nullptr : found->name;
}

} // namespace tiv::test
