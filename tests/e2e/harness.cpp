#include "harness.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "libs/tarnport/wine_path.h"
#include "protocol/hex.h"
#include "tests/common/hex_token.h"

namespace fs = std::filesystem;

namespace e2e {

std::string Hex(const std::string& bytes) { return morvane::test::HexToken(bytes); }
std::string Unhex(const std::string& hex) { return morvane::test::ParseHexToken(hex).value_or(std::string()); }

std::string HexBytes(const std::vector<unsigned char>& bytes) {
    std::string out = morvane::HexBytes(bytes.data(), bytes.size());
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Paths::WinBuild() { return MORVANE_WIN_BUILD_DIR; }
std::string Paths::WinTestBuild() { return MORVANE_WIN_TEST_BUILD_DIR; }
std::string Paths::Template() { return MORVANE_WINEPREFIX; }
std::string Paths::Prefix() {
    const char* own = std::getenv("MORVANE_TEST_PREFIX");
    if (own != nullptr && *own != '\0') return own;
    return (fs::path(Template()).parent_path() / "prefixes" / program_invocation_short_name).string();
}
std::string Paths::Artifacts() {
    std::string dir = MORVANE_ARTIFACT_DIR;
    fs::create_directories(dir);
    return dir;
}
std::string Paths::Runs() { return (fs::path(MORVANE_ARTIFACT_DIR).parent_path() / "e2e-runs").string(); }

std::map<std::string, std::string> WineEnv() {
    const char* display = std::getenv("DISPLAY");
    return {
        {"WINEPREFIX", Paths::Prefix()},     {"WINEDEBUG", "-all"},   {"WINEDLLOVERRIDES", "mscoree,mshtml="},
        {"DISPLAY", display ? display : ""}, {"LANG", "en_US.UTF-8"}, {"LC_ALL", "en_US.UTF-8"},
    };
}

void LinkDosDevice(const std::string& name, const std::string& target) {
    fs::path link = fs::path(Paths::Prefix()) / "dosdevices" / name;
    std::error_code ec;
    fs::remove(link, ec);
    if (!target.empty()) fs::create_symlink(target, link, ec);
    ASSERT_FALSE(ec) << "cannot link " << link << " -> " << target << ": " << ec.message();
}

RunFolder::RunFolder(Library library, bool withSkin) {
    fs::path base = Paths::Runs();
    fs::create_directories(base);
    std::string tmpl = (base / ("run-" + std::to_string(getpid()) + "-XXXXXX")).string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
    fs::path product = fs::path(Paths::WinBuild()) / "Morvane";
    fs::copy_file(product / "Morvane.exe", fs::path(path_) / "Morvane.exe");
    fs::copy_file(product / "SkinPlusPlusDLL.dll", fs::path(path_) / "SkinPlusPlusDLL.dll");
    if (withSkin) fs::copy_file(product / "XPCorona.ssk", fs::path(path_) / "XPCorona.ssk");
    if (library == Library::Real)
        fs::copy_file(product / "TarnPortDll.dll", fs::path(path_) / "TarnPortDll.dll");
    else if (library == Library::Fake)
        fs::copy_file(fs::path(Paths::WinTestBuild()) / "e2e" / "fake-port-library" / "TarnPortDll.dll",
                      fs::path(path_) / "TarnPortDll.dll");
}

RunFolder::~RunFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
}

void RemoveAbandonedRunFolders() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Paths::Runs(), ec)) {
        // run-<pid>-XXXXXX; a folder named after no process is an older harness's.
        const std::string name = entry.path().filename().string();
        if (name.rfind("run-", 0) != 0) continue;
        const size_t digits = name.find_first_not_of("0123456789", 4);
        if (digits != std::string::npos && digits > 4 && name[digits] == '-') {
            const pid_t pid = static_cast<pid_t>(std::stol(name.substr(4, digits - 4)));
            if (kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running (or not ours to ask)
        }
        fs::remove_all(entry.path(), ec);
    }
}

std::string RunFolder::WinPath(const std::string& file) const {
    return tarnport::WinePathOf((fs::path(path_) / file).string());
}

void RunFolder::WriteFile(const std::string& name, const std::string& contents) const {
    std::ofstream(fs::path(path_) / name, std::ios::binary) << contents;
}

namespace {
Driver& Instance() {
    static Driver driver;
    return driver;
}
}  // namespace

Driver& Driver::Get() {
    Driver& driver = Instance();
    if (!driver.process_) {
        driver.process_ = std::make_unique<Process>();
        std::string exe = Paths::WinTestBuild() + "/e2e/morvane_driver.exe";
        driver.process_->Start({"wine", exe}, WineEnv(), "", true);
    }
    return driver;
}

std::string Driver::Try(const std::string& command, int timeoutMs) {
    std::string line;
    if (!process_->Send(command) || !process_->ReadLine(&line, timeoutMs)) {
        // A driver that stopped answering is of no further use: start afresh.
        process_.reset();
        return "err driver did not answer '" + command + "'";
    }
    return line;
}

std::string Driver::Do(const std::string& command, int timeoutMs) {
    std::string line = Try(command, timeoutMs);
    EXPECT_EQ(line.rfind("ok", 0), 0u) << "driver: " << command << " -> " << line;
    return line.size() > 3 ? line.substr(3) : std::string();
}

void Driver::ShutdownIfRunning() {
    Driver& driver = Instance();
    if (driver.process_) {
        driver.process_->Send("quit");
        driver.process_->WaitExit(5000);
        driver.process_.reset();
    }
}

Morvane::Morvane(const RunFolder& folder, const std::map<std::string, std::string>& env, const std::string& title) {
    auto all = WineEnv();
    for (const auto& [k, v] : env) all[k] = v;
    process_.Start({"wine", "Morvane.exe"}, all, folder.Path(), false);
    started_ = Driver::Get().Try("find " + Hex(title) + " 30000", 35000) == "ok";
}

Morvane::~Morvane() {
    // Leave no message box behind for the next test, then end the program.
    if (started_ && process_.Running()) Driver::Get().Try("dismiss", 2000);
    process_.Kill();
}

std::string Morvane::Text(int id) { return Unhex(Driver::Get().Do("text " + std::to_string(id))); }
void Morvane::SetText(int id, const std::string& text) {
    Driver::Get().Do("settext " + std::to_string(id) + " " + Hex(text));
}
void Morvane::Select(int id, int index) {
    Driver::Get().Do("select " + std::to_string(id) + " " + std::to_string(index));
}
int Morvane::CurSel(int id) { return std::atoi(Driver::Get().Do("cursel " + std::to_string(id)).c_str()); }

std::vector<std::string> Morvane::Items(int id) {
    std::string all = Driver::Get().Do("items " + std::to_string(id));
    std::vector<std::string> items;
    size_t i = 0;
    while (!all.empty() && i <= all.size()) {
        size_t j = all.find(',', i);
        if (j == std::string::npos) j = all.size();
        items.push_back(Unhex(all.substr(i, j - i)));
        i = j + 1;
    }
    return items;
}

void Morvane::TypeChar(int id, int code) {
    Driver::Get().Do("char " + std::to_string(id) + " " + std::to_string(code));
    Sync();
}

std::string Morvane::TakeMessage(int timeoutMs) {
    std::string line = Driver::Get().Try("msgbox " + std::to_string(timeoutMs), timeoutMs + 10000);
    if (line.rfind("ok ", 0) != 0) return "<" + line + ">";
    std::string rest = line.substr(3);
    size_t sp = rest.find(' ');
    std::string caption = Unhex(rest.substr(0, sp));
    std::string text = Unhex(sp == std::string::npos ? "-" : rest.substr(sp + 1));
    Driver::Get().Do("dismiss");
    return caption + "|" + text;
}

bool Morvane::NoMessageFor(int ms) {
    return Driver::Get().Try("msgbox " + std::to_string(ms), ms + 10000) != std::string("ok") &&
           Driver::Get().Try("nomsgbox") == "ok";
}

void Morvane::Screenshot(const std::string& name) {
    // Let the dialog finish painting its controls first.
    Sync();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::string file = Paths::Artifacts() + "/" + name + ".png";
    std::string cmd = "import -window root '" + file + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "screenshot failed: " << file;
}

void Morvane::OpenPort(int portIndex, int baudIndex) {
    Select(kPortList, portIndex);
    Select(kBaudList, baudIndex);
    Click(kOpenButton);
    Sync();
    ASSERT_EQ(Text(kOpenButton), "Close") << "the port did not open";
}

void WineEnvironment::SetUp() {
    const std::string wine = std::string(MORVANE_SOURCE_DIR) + "/tests/wine/";
    Process clone;
    int status = -1;
    ASSERT_TRUE(clone.Start({wine + "clone-prefix.sh", Paths::Template(), Paths::Prefix()}, {}, "", false));
    // The first program to run may have to prepare the template itself.
    ASSERT_TRUE(clone.WaitExit(600000, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "cannot make the prefix " << Paths::Prefix();
    // Start Wine's session now: its start-up re-creates the COM links of the
    // machine's serial ports, which must not undo links a test makes later.
    // The session helper ends the Wine server and the display when its input
    // closes, which also happens when this process is killed.
    const std::string helper = wine + "wine-session.sh";
    ASSERT_TRUE(session_.Start({helper, "--own-display", Paths::Prefix()}, {}, "", true, SIGTERM))
        << "cannot start " << helper;
    std::string line;
    ASSERT_TRUE(session_.ReadLine(&line, 300000) && line.rfind("DISPLAY=", 0) == 0)
        << "the Wine session did not start: " << line;
    setenv("DISPLAY", line.substr(8).c_str(), 1);
    // The driver keeps the session alive until the end.
    std::string answer = Driver::Get().Try("alive", 60000);
    ASSERT_EQ(answer.rfind("err no dialog", 0), 0u) << "the driver did not start: " << answer;
}

void WineEnvironment::TearDown() {
    Driver::ShutdownIfRunning();
    session_.CloseInput();
    if (!session_.WaitExit(30000)) session_.Kill();
}

}  // namespace e2e
