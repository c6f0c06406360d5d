#include "service_listener.h"

#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "broker.h"
#include "listening_socket.h"

namespace fake_broker {

ServiceListener::ServiceListener(Broker& broker, std::string bind, std::string cert,
                                 std::string key)
    : broker_(broker),
      bind_(std::move(bind)),
      defaultCert_(std::move(cert)),
      defaultKey_(std::move(key)) {}

ServiceListener::~ServiceListener() {
    Stop();
}

int ServiceListener::Start(int port) {
    const std::lock_guard lock(mutex_);
    StopLocked();
    return StartLocked(port, defaultCert_, defaultKey_);
}

int ServiceListener::Restart(const std::string& cert, const std::string& key) {
    const std::lock_guard lock(mutex_);
    StopLocked();
    return cert.empty() ? StartLocked(port_, defaultCert_, defaultKey_)
                        : StartLocked(port_, cert, key);
}

void ServiceListener::Stop() {
    const std::lock_guard lock(mutex_);
    StopLocked();
}

int ServiceListener::StartLocked(int port, const std::string& cert, const std::string& key) {
    auto server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
    if (!server->is_valid()) {
        throw std::runtime_error("cannot load certificate " + cert + " or key " + key);
    }
    // Slow endpoints and kept-alive connections each hold a worker; the default pool is small.
    // httplib takes ownership of the queue it is given.
    server->new_task_queue = [] { return std::make_unique<httplib::ThreadPool>(64).release(); };
    // A TLS handshake must finish within the read timeout, which sanitizers and Wine on a busy
    // machine can take longer than httplib's 5 s for.
    server->set_read_timeout(30, 0);
    broker_.RegisterService(*server);
    const int bound = BindListeningSocket(*server, bind_, port).value_or(-1);
    if (bound <= 0) {
        throw std::runtime_error("cannot listen on " + bind_ + ":" + std::to_string(port));
    }
    broker_.SetServicePort(bound);
    httplib::SSLServer& running = *server;
    thread_ = std::thread([&running] { running.listen_after_bind(); });
    // stop() only reaches a server that is already running.
    while (!running.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    server_ = std::move(server);
    port_ = bound;
    cert_ = cert;
    return bound;
}

void ServiceListener::StopLocked() {
    if (!server_) {
        return;
    }
    // Held connections would keep their workers, and stop() waits for every worker.
    broker_.ReleaseHolds(false);
    server_->stop();
    thread_.join();
    server_.reset();
}

void ServiceListener::RegisterControl(httplib::Server& control) {
    control.Get("/service", [this](const httplib::Request&, httplib::Response& rs) {
        const std::lock_guard lock(mutex_);
        const nlohmann::json state = {
            {"listening", server_ != nullptr}, {"port", port_}, {"cert", cert_}};
        rs.set_content(state.dump(), "application/json");
    });
    control.Put("/service", [this](const httplib::Request& rq, httplib::Response& rs) {
        try {
            const nlohmann::json request = nlohmann::json::parse(rq.body);
            if (!request.is_object()) {
                throw std::runtime_error("the body must be a JSON object");
            }
            const bool listening = request.value("listening", true);
            const std::string cert = request.value("cert", std::string());
            const std::string key = request.value("key", std::string());
            if (cert.empty() != key.empty()) {
                throw std::runtime_error("cert and key go together");
            }
            if (listening) {
                Restart(cert, key);
            } else {
                Stop();
            }
            rs.set_content(nlohmann::json{{"listening", listening}}.dump(), "application/json");
        } catch (const std::exception& e) {
            rs.status = 400;
            rs.set_content(nlohmann::json{{"error", e.what()}}.dump(), "application/json");
        }
    });
}

}  // namespace fake_broker
