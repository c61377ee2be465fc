// A module found by TCP/IP discovery: a veth pair whose far end, a network
// namespace of its own, holds the module's discovery responder and listening
// socket. The one connection a link makes there is handed to the simulator.
// Run the host's side of a test in host().
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <thread>

#include "FakeDiscoveryPeers.h"
#include "ModuleSimulator.h"
#include "PrivateNetns.h"
#include "SimSystemEntity.h"

namespace morvsim {

class TcpipModuleRig {
public:
    TcpipModuleRig() = default;
    TcpipModuleRig(const TcpipModuleRig&) = delete;
    TcpipModuleRig& operator=(const TcpipModuleRig&) = delete;

    // Fails the test (ASSERT) when the network cannot be made; call it from SetUp
    // after checking that private namespaces are available.
    void start(const char* hostAddress, const char* moduleAddress, std::uint8_t address, std::uint32_t serial,
               std::uint8_t model)
    {
        ASSERT_EQ(morvtest::startVethPair(host_, hostAddress, net_, moduleAddress), "");
        sim_ = std::make_unique<ModuleSimulator>(SimModule(address, serial, model));
        sim_->withModule(address, [](SimModule& m) { installSystemEntity(m); });
        std::uint16_t port = 0;
        net_->run([&] {
            listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            ASSERT_GE(listenFd_, 0);
            sockaddr_in bound{};
            bound.sin_family = AF_INET;
            ASSERT_EQ(inet_pton(AF_INET, moduleAddress, &bound.sin_addr), 1);
            ASSERT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&bound), sizeof(bound)), 0);
            ASSERT_EQ(::listen(listenFd_, 1), 0);
            socklen_t length = sizeof(bound);
            ASSERT_EQ(::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length), 0);
            port = ntohs(bound.sin_port);
            responder_ = std::make_unique<FakeTcpipModule>(moduleAddress, tcpipReply(address, port, serial, model));
        });
        acceptor_ = std::thread([this] {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 20000) == 1) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    sim_->attachFd(fd);
            }
        });
    }

    ~TcpipModuleRig()
    {
        if (acceptor_.joinable()) {
            ::shutdown(listenFd_, SHUT_RDWR);
            acceptor_.join();
        }
        if (listenFd_ >= 0)
            ::close(listenFd_);
        if (net_)
            net_->run([this] { responder_.reset(); });
    }

    morvtest::NetnsThread& host() { return *host_; }
    ModuleSimulator& sim() { return *sim_; }

private:
    std::unique_ptr<morvtest::NetnsThread> host_;
    std::unique_ptr<morvtest::NetnsThread> net_;
    std::unique_ptr<ModuleSimulator> sim_;
    std::unique_ptr<FakeTcpipModule> responder_;
    int listenFd_ = -1;
    std::thread acceptor_;
};

}  // namespace morvsim
