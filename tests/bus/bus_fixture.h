#pragma once
// What the bus tests share: the private bus, the helper program's registration, and the
// clean-up that leaves no helper running.
#include "automation/invoke.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bustest {

// Empty when the private bus could not be started.
std::string& PrivateBusAddress();
// Where the private bus looks for service files.
std::string& ServiceFolder();

bool ProcessRunning(long pid);
// The lines of a text file, such as a call trace; none when it cannot be read.
std::vector<std::string> Lines(const std::string& path);
// Waits until done() holds or the time is up; whether it held.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::milliseconds(60000));

// Late-bound call that must succeed.
automation::Variant Call(automation::IDispatch* object, const std::u16string& member,
                         std::vector<automation::Variant> args = {},
                         automation::CallKind kind = automation::CallKind::Method);

class BusTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Registers the helper program for TestProgId, with extra arguments.
    void RegisterHelper(std::vector<std::string> extra = {});
    automation::HRESULT Create(automation::DispatchPtr* app);
    automation::HRESULT Attach(automation::DispatchPtr* app);
    // Whether a program owns the test's bus name now.
    bool NameOwned() const;
    // Every helper process started so far (from their pid file).
    std::vector<long> HelperPids() const;
    int ServerPid(automation::IDispatch* app);

    std::string pidFile_;
    automation::CLSID clsid_;
};

} // namespace bustest
