#include "app/keys.h"

#include <cmath>

namespace tiv::app {

bool is_offered_key_length(unsigned bits) {
    return bits >= smallest_key_bits && bits <= largest_key_bits && bits % key_bits_step == 0;
}

// floor(4.2338 * bits^0.426 + 0.5)
unsigned key_strength(unsigned bits) {
    return static_cast<unsigned>(4.2338 * std::pow(static_cast<double>(bits), 0.426) + 0.5);
}

std::vector<key_question> rekey_questions(unsigned bits) {
    std::vector<key_question> warnings = {
        {"Be very sure about this.",
         "Performing this action will DESTROY your existing RSA keys! If you proceed there is NO GOING BACK!\n\nYou "
         "will need to redistribute your public key to anyone with whom you wish to exchange data!"}};
    if (bits < 2048) {
        warnings.push_back({"WHOA! Hold on there....",
                            "Your proposed key length is shorter than 2048 bits. A 2048 bit key is only about as "
                            "strong as a 112 bit AES key. Your effective cryptographic strength is only as good as "
                            "the weakest key in the link.\n\nAre you sure you want to use a key this weak?"});
    } else if (bits > 4096) {
        warnings.push_back(
            {"This could take some time!",
             "Your proposed key length is longer than 4096 bits. Generating longer keys can take significant time -- "
             "a 5k-bit key took two minutes on my computer and the cost only goes up, although it is "
             "nondeterminstic.\n\nTo learn why, read how RSA key generation searches for primes: "
             "https://en.wikipedia.org/wiki/RSA_(cryptosystem)#Key_generation\n\nAre you sure you want to proceed?"});
    }
    return warnings;
}

} // namespace tiv::app
