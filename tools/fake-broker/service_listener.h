#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
class SSLServer;
}  // namespace httplib

namespace fake_broker {

class Broker;

// The HTTPS side of the broker, which the control API can take down (clients then meet a refused
// connection) and bring back, with its own certificate or another one (clients then meet a
// certificate they do not trust).
class ServiceListener {
  public:
    ServiceListener(Broker& broker, std::string bind, std::string cert, std::string key);
    ~ServiceListener();
    ServiceListener(const ServiceListener&) = delete;
    ServiceListener& operator=(const ServiceListener&) = delete;

    // Binds (port 0: any free port, then the same one on every later start) and serves on a thread
    // of its own; returns the port. Throws std::runtime_error when it cannot.
    int Start(int port);
    // With other certificate files, or the ones given at construction when these are empty.
    int Restart(const std::string& cert, const std::string& key);
    void Stop();

    // GET /service: {"listening", "port", "cert"}; PUT /service {"listening"?, "cert"?, "key"?}.
    void RegisterControl(httplib::Server& control);

  private:
    int StartLocked(int port, const std::string& cert, const std::string& key);
    void StopLocked();

    Broker& broker_;
    const std::string bind_;
    const std::string defaultCert_;
    const std::string defaultKey_;

    std::mutex mutex_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
    std::string cert_;
};

}  // namespace fake_broker
