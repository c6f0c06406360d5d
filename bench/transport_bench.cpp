// Fetches the same resource COUNT times through the platform's HttpClient on one instance, as the
// book services do, and prints the mean time per request. Runs inside scripts/sandbox, against the
// fake broker; bench/transport_bench.sh sets it beside one curl process fetching the same URLs.
//
//   morva_transport_bench HOST PATH [COUNT] [HEADER=VALUE]...
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "base/morva_error.h"
#include "http/http_client.h"
#include "util/utf.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: morva_transport_bench HOST PATH [COUNT] [HEADER=VALUE]..."
                  << std::endl;
        return 2;
    }
    try {
        morva::HttpRequest request;
        request.host = morva::Utf8ToUtf16(argv[1]);
        request.path = morva::Utf8ToUtf16(argv[2]);
        const int count = argc > 3 ? std::atoi(argv[3]) : 200;
        for (int i = 4; i < argc; ++i) {
            const std::string header = argv[i];
            const std::size_t equals = header.find('=');
            morva::SetHeader(request.headers, morva::Utf8ToUtf16(header.substr(0, equals)),
                             morva::Utf8ToUtf16(header.substr(equals + 1)));
        }
        const auto client = morva::CreatePlatformHttpClient();
        std::size_t bytes = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            const morva::HttpResponse response = client->Send(u"GET", request);
            if (response.status != 200) {
                std::cerr << "status " << response.status << ": " << response.body << std::endl;
                return 1;
            }
            bytes += response.body.size();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "requests " << count << " bytes " << bytes << " seconds " << seconds
                  << " per_request_us " << seconds * 1e6 / count << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
}
