// A fixture running the real Updater inside a fresh network namespace of its
// own (TCP/IP discovery multicasts), with a fake update server there; derived
// fixtures add their modules in that namespace after SetUp.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeUpdateServer.h"
#include "PrivateNetns.h"
#include "TempDir.h"
#include "UpdaterProgram.h"

namespace updtest {

class NetnsUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MORVTEST_SKIP_UNLESS_PRIVATE_NETNS();
        ns_ = std::make_unique<morvtest::NetnsThread>();
        ASSERT_EQ(ns_->error(), "");
        ns_->run([&] { server_ = std::make_unique<morvtest::FakeUpdateServer>(); });
        program_ = std::make_unique<UpdaterProgram>(dir_.path(), server_->url());
    }
    // False when SetUp skipped or failed, so a derived SetUp stops there.
    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }
    void TearDown() override
    {
        if (ns_)
            ns_->run([&] {
                tearDownInNamespace();
                server_.reset();
            });
    }
    // What a derived fixture made in the namespace goes before the server.
    virtual void tearDownInNamespace() {}

    morvtest::ChildResult run(const std::vector<std::string>& args)
    {
        morvtest::ChildResult r;
        ns_->run([&] { r = program_->run(args); });
        return r;
    }
    // As run, the program sent the signal once `when` holds.
    morvtest::ChildResult runInterrupted(const std::vector<std::string>& args, const std::function<bool()>& when,
                                         int signal)
    {
        morvtest::ChildResult r;
        ns_->run([&] { r = program_->runInterrupted(args, when, signal); });
        return r;
    }

    morvtest::TempDir dir_;
    std::unique_ptr<morvtest::NetnsThread> ns_;
    std::unique_ptr<morvtest::FakeUpdateServer> server_;
    std::unique_ptr<UpdaterProgram> program_;
};

}  // namespace updtest
