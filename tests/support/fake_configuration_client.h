#pragma once

#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/configuration_client.h"
#include "config/server_config.h"
#include "support/gate.h"

namespace morva::test {

// A configuration client whose answers a test sets. Every call is counted; a test may make all
// calls fail, or close the gate to hold them until it opens it (to keep a background call
// running).
class FakeConfigurationClient : public ConfigurationClient, public Gate {
  public:
    std::u16string GetVersion() override {
        return Answer([&] { return version_; });
    }
    std::u16string GetMinVersion() override {
        return Answer([&] { return minVersion_; });
    }
    FileBytes DownloadDll(const std::u16string& platform) override {
        return Answer([&] {
            downloads_.push_back(u"dll " + platform);
            return dll_;
        });
    }
    FileBytes DownloadIndicator(const std::u16string& platform,
                                const std::u16string& language) override {
        return Answer([&] {
            downloads_.push_back(u"indicator " + platform + u" " + language);
            return indicator_;
        });
    }
    std::vector<ServerConfig> GetServerConfigs() override {
        return Answer([&] { return serverConfigs_; });
    }

    void SetVersions(std::u16string version, std::u16string minVersion) {
        const std::lock_guard lock(mutex_);
        version_ = std::move(version);
        minVersion_ = std::move(minVersion);
    }
    void SetServerConfigs(std::vector<ServerConfig> configs) {
        const std::lock_guard lock(mutex_);
        serverConfigs_ = std::move(configs);
    }
    void SetFiles(FileBytes dll, FileBytes indicator) {
        const std::lock_guard lock(mutex_);
        dll_ = std::move(dll);
        indicator_ = std::move(indicator);
    }
    // Every call throws this from now on; null makes calls answer again.
    void Fail(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
    }

    // "dll <platform>" or "indicator <platform> <language>", one per download asked for.
    std::vector<std::u16string> downloads() const {
        const std::lock_guard lock(mutex_);
        return downloads_;
    }

  private:
    template <class Produce>
    auto Answer(const Produce& produce) -> decltype(produce()) {
        const Pass pass(*this);
        const std::lock_guard lock(mutex_);
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        return produce();
    }

    mutable std::mutex mutex_;  // guards everything below: tests and background tasks share it
    std::exception_ptr failure_;
    std::u16string version_ = u"1.16.5.0";
    std::u16string minVersion_ = u"1.16.0.0";
    std::vector<ServerConfig> serverConfigs_;
    FileBytes dll_;
    FileBytes indicator_;
    std::vector<std::u16string> downloads_;
};

}  // namespace morva::test
