// The fixture of the tests that show the properties sheet: the plug-in in a player whose window is
// up, the foreground to this test program alone, and the sheet opened as the player opens it.
#pragma once

#include <functional>
#include <string>

#include "tests/plugin/plugin_fixture.h"
#include "tests/plugin/sheet_driver.h"

class SheetTest : public PluginTest {
protected:
    static host::HostOptions SheetOptions(const std::string& ini = "") { return WithShownWindow(WithSettings(ini)); }

    // Opens the sheet through Config, as the player does, and lets drive work it from another thread.
    void OpenSheet(const std::function<void(HWND sheet)>& drive) {
        const bool shown = sheet::WithSheet([&] { host_->Module()->Config(host_->MainWindow()); }, drive);
        EXPECT_TRUE(shown) << "the sheet did not show";
    }

private:
    // Taken before the player starts and given up after it has gone (the fixture's members outlive
    // TearDown).
    sheet::ForegroundLock lock_;
};
