// Eight processes write one mailbox at once, through nothing but the blocking files: each adds,
// edits and removes appointments of its own in a month that all of them share and in a day of
// that month that it shares with one other. Afterwards the period files hold exactly what the
// calls' results say, line for line.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "common/host_platform.h"
#include "common/registry.h"
#include "tests/stress/store_model.h"
#include "tests/support/test_store.h"

namespace cv {
namespace testing {
namespace {

constexpr int kProcesses = 8;
constexpr int kAppointmentsEach = 250;
constexpr const char* kWaits[] = {"Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout",
                                  "Apply Timeout"};

std::vector<std::string> PeriodsOf(int process) {
    return {"Y09M03", "Y09M03D0" + std::to_string(process / 2 + 1)};
}

class WritersTest : public ::testing::Test {
  protected:
    WritersTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        for (const char* wait : kWaits)
            store_.registry().Delete(Hive::kLocalMachine, kProvidersKey, wait);
    }

    std::string LogOf(int process) const {
        return store_.root() + "/writer-" + std::to_string(process) + ".log";
    }
    std::string GoFile() const { return store_.root() + "/go"; }

    // The arguments after LIBRARY for one process's share of the work.
    std::vector<std::string> ScriptOf(int process, const std::string& log) const {
        std::vector<std::string> arguments = {"example",
                                              "anna",
                                              log,
                                              "cycle",
                                              "w" + std::to_string(process),
                                              std::to_string(kAppointmentsEach),
                                              "0"};
        for (const std::string& period : PeriodsOf(process)) arguments.push_back(period);
        return arguments;
    }

    std::vector<std::string> NativeCommand(int process) const {
        std::vector<std::string> command = {SiblingExecutable("writer_driver"), "--after", GoFile(),
                                            ProviderLibraryPath()};
        for (std::string& a : ScriptOf(process, LogOf(process))) command.push_back(std::move(a));
        return command;
    }

    // Starts the processes, lets them go at once, and checks each one's exit code.
    void Run(std::vector<std::vector<std::string>> commands) {
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (const auto& command : commands) {
            children.push_back(std::make_unique<ChildProcess>());
            ASSERT_TRUE(children.back()->Start(command)) << command[0];
        }
        ASSERT_TRUE(WriteFileBytes(GoFile(), ""));
        for (size_t i = 0; i < children.size(); ++i) {
            EXPECT_EQ(0, children[i]->Wait()) << "process " << i << " had a call refused";
        }
    }

    // Every call of every log returned 1, and the period files hold exactly the lines those
    // calls leave, with no blocking file or temporary copy left behind.
    void ExpectStoreMatchesLogs() {
        StoreModel model;
        int calls = 0;
        for (int p = 0; p < kProcesses; ++p) {
            std::vector<LoggedCall> log;
            ASSERT_TRUE(ReadCallLog(LogOf(p), &log)) << LogOf(p);
            for (const LoggedCall& call : log) {
                ASSERT_TRUE(call.returned) << call.id;
                EXPECT_EQ(1, call.result) << call.operation << " " << call.id;
                model.Apply(call);
            }
            calls += static_cast<int>(log.size());
        }
        EXPECT_EQ(kProcesses * (kAppointmentsEach * 2 + (kAppointmentsEach + 2) / 3), calls);
        std::vector<std::string> periods = model.Periods();
        EXPECT_EQ(1u + kProcesses / 2, periods.size());
        for (const std::string& period : periods) {
            std::vector<std::string> lines;
            bool exists = ReadPeriodLines(calendar_, period, &lines);
            EXPECT_EQ(!model.Lines(period).empty(), exists) << period;
            EXPECT_TRUE(lines == model.Lines(period))
                << period << ": " << lines.size() << " lines, expected "
                << model.Lines(period).size();
            EXPECT_FALSE(PathExists(calendar_ + "\\" + period + ".BLK")) << period;
            EXPECT_FALSE(PathExists(calendar_ + "\\" + period + ".TMP")) << period;
        }
    }

    TestStore store_;
    std::string calendar_;
};

TEST_F(WritersTest, EightProcessesLoseAndGarbleNothing) {
    std::vector<std::vector<std::string>> commands;
    for (int p = 0; p < kProcesses; ++p) commands.push_back(NativeCommand(p));
    Run(commands);
    ExpectStoreMatchesLogs();
}

#if !defined(_WIN32)
// The same work shared between native processes and processes of the Windows build under Wine,
// which have only the files on disk in common with the others. The Windows build to use is named
// by CVAICP_WINDOWS_BIN (its bin folder) and CVAICP_WINDOWS_ARCH (win32 or win64).
std::string WindowsPath(const std::string& native) {
    std::string path = "Z:" + native;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

TEST_F(WritersTest, NativeAndWindowsProcessesShareTheStore) {
    const char* bin = std::getenv("CVAICP_WINDOWS_BIN");
    const char* arch = std::getenv("CVAICP_WINDOWS_ARCH");
    if (bin == nullptr || arch == nullptr) GTEST_SKIP() << "no Windows build named";
    // The Windows processes read their settings from the registry of Wine's prefix: the writers
    // import them, and regedit takes them out again afterwards, so that the prefix is left as
    // the Windows tests expect it.
    std::string wine_run = CVAICP_SOURCE_DIR "/cmake/wine-run";
    SetProcessEnvironment("WINEPREFIX", (std::string(bin) + "/../wineprefix").c_str());
    std::string root = WindowsPath(store_.root());
    std::string escaped;
    for (char c : root) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    auto settings = [&](const std::string& mail_root, const std::string& write,
                        const std::string& read, const std::string& unblock,
                        const std::string& apply) {
        return "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\r\n\"Mail Root\"=" +
               mail_root +
               "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane\\Providers]\r\n"
               "\"Write Wait Timeout\"=" +
               write + "\r\n\"Read Wait Timeout\"=" + read + "\r\n\"UnBlock Timeout\"=" + unblock +
               "\r\n\"Apply Timeout\"=" + apply + "\r\n";
    };
    std::string reg = store_.root() + "/windows.reg";
    std::string forget = store_.root() + "/forget.reg";
    ASSERT_TRUE(
        WriteFileBytes(reg, settings("\"" + escaped + "\"", "dword:00000050", "dword:0000003c",
                                     "dword:00000050", "dword:00000014")));
    ASSERT_TRUE(WriteFileBytes(forget, settings("-", "-", "-", "-", "-")));
    struct Forget {
        std::vector<std::string> command;
        ~Forget() {
            ChildProcess regedit;
            if (regedit.Start(command)) regedit.Wait();
        }
    } forget_afterwards{{wine_run, arch, "regedit", "/S", WindowsPath(forget)}};
    std::vector<std::vector<std::string>> commands;
    for (int p = 0; p < kProcesses; ++p) {
        if (p % 2 == 0) {
            commands.push_back(NativeCommand(p));
            continue;
        }
        std::vector<std::string> command = {wine_run,
                                            arch,
                                            std::string(bin) + "/writer_driver.exe",
                                            "--registry",
                                            WindowsPath(reg),
                                            "--after",
                                            WindowsPath(GoFile()),
                                            "CVAICP.DLL"};
        for (std::string& a : ScriptOf(p, WindowsPath(LogOf(p)))) command.push_back(std::move(a));
        commands.push_back(command);
    }
    Run(commands);
    ExpectStoreMatchesLogs();
}
#endif

}  // namespace
}  // namespace testing
}  // namespace cv
