// credential-seed TARGET: stores the refresh token read from standard input under TARGET in the
// user's credential store (Credential Manager on Windows, the private file elsewhere), where the
// library looks for it when it signs in. For demos and tests that have no browser: the token
// comes from the fake broker's control API. It is read from standard input, not the command line,
// so it never shows in a process list.
#include <iostream>
#include <string>

#include "auth/credential_store.h"
#include "util/utf.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: credential-seed TARGET <TOKEN_FILE" << std::endl;
        return 2;
    }
    std::string token;
    std::getline(std::cin, token);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) {
        token.pop_back();
    }
    if (token.empty()) {
        std::cerr << "credential-seed: no token on standard input" << std::endl;
        return 1;
    }
    try {
        morva::WriteCredentials(morva::Utf8ToUtf16(argv[1]), {u"", morva::Utf8ToUtf16(token)});
        if (morva::ReadCredentials(morva::Utf8ToUtf16(argv[1])) == std::nullopt) {
            std::cerr << "credential-seed: the stored token cannot be read back" << std::endl;
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "credential-seed: " << e.what() << std::endl;
        return 1;
    }
    std::cout << "stored a refresh token under " << argv[1] << std::endl;
    return 0;
}
