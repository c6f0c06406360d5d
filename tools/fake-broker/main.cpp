#include <httplib.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "broker.h"
#include "listening_socket.h"
#include "scenario.h"
#include "service_listener.h"

namespace {

constexpr const char* kUsage =
    "usage: fake-broker --cert FILE --key FILE [--port 443] [--bind 127.0.0.1]\n"
    "                   [--control-port 8099] [--scenario FILE.json]\n"
    "                   [--claims-origin https://www.morva.example]\n";

struct Options {
    std::string cert;
    std::string key;
    int port = 443;
    std::string bind = "127.0.0.1";
    int controlPort = 8099;
    std::string scenario;
    std::string claimsOrigin = "https://www.morva.example";
};

std::optional<int> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int port = std::stoi(text);
    return port <= 65535 ? std::optional<int>(port) : std::nullopt;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::cerr << "fake-broker: " << flag << " needs a value\n" << kUsage;
            return std::nullopt;
        }
        const std::string value = argv[++i];
        std::optional<int> port;
        if (flag == "--cert") {
            options.cert = value;
        } else if (flag == "--key") {
            options.key = value;
        } else if (flag == "--bind") {
            options.bind = value;
        } else if (flag == "--scenario") {
            options.scenario = value;
        } else if (flag == "--claims-origin") {
            // The namespaced claim names append "/tokenID"; a trailing slash would double it.
            options.claimsOrigin = value;
            while (!options.claimsOrigin.empty() && options.claimsOrigin.back() == '/') {
                options.claimsOrigin.pop_back();
            }
        } else if ((flag == "--port" || flag == "--control-port") && (port = ParsePort(value))) {
            (flag == "--port" ? options.port : options.controlPort) = *port;
        } else {
            std::cerr << "fake-broker: bad option " << flag << " " << value << "\n" << kUsage;
            return std::nullopt;
        }
    }
    if (options.cert.empty() || options.key.empty()) {
        std::cerr << "fake-broker: --cert and --key are required\n" << kUsage;
        return std::nullopt;
    }
    return options;
}

fake_broker::Scenario LoadScenario(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot open scenario " + path);
    }
    return fake_broker::ParseScenario(nlohmann::json::parse(file));
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        return 2;
    }

    // Signals are taken by sigwait below; every thread started later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client hanging up mid-response must not kill the server.
    std::signal(SIGPIPE, SIG_IGN);

    fake_broker::Scenario scenario;
    try {
        scenario = LoadScenario(options->scenario);
    } catch (const std::exception& e) {
        std::cerr << "fake-broker: " << e.what() << "\n";
        return 1;
    }

    httplib::Server control;
    fake_broker::BrokerSettings settings;
    settings.claimsOrigin = options->claimsOrigin;
    settings.fileServer.port = options->port;
    fake_broker::Broker broker(settings, std::move(scenario));
    fake_broker::ServiceListener service(broker, options->bind, options->cert, options->key);
    int servicePort = 0;
    try {
        servicePort = service.Start(options->port);
    } catch (const std::exception& e) {
        std::cerr << "fake-broker: " << e.what() << "\n";
        return 1;
    }
    const auto controlPort =
        fake_broker::BindListeningSocket(control, "127.0.0.1", options->controlPort);
    if (!controlPort) {
        std::cerr << "fake-broker: cannot listen on 127.0.0.1:" << options->controlPort << "\n";
        return 1;
    }
    broker.RegisterControl(control);
    service.RegisterControl(control);

    std::thread controlThread([&control] { control.listen_after_bind(); });
    // stop() only reaches a server that is already running.
    while (!control.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::cout << "fake-broker listening on " << servicePort << " (control " << *controlPort << ")"
              << std::endl;

    int received = 0;
    sigwait(&stopSignals, &received);
    std::cerr << "fake-broker: stopping on signal " << received << "\n";
    broker.ReleaseHolds(true);
    control.stop();
    controlThread.join();
    service.Stop();
    return 0;
}
