// The settings file and the environment over it, and back end modules loaded
// by name: what steers a port before anything is written.

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "module_loader.h"
#include "port_chooser.h"
#include "port_io.h"
#include "run_command.h"
#include "settings.h"
#include "sim_port.h"
#include "temp_folder.h"

namespace {

using runlight::portio::Choice;
using runlight::portio::Environment;
using runlight::portio::PortIo;
using runlight::portio::PortSettings;
using runlight::portio::readSettingsFile;
using runlight::testing::runCommand;
using runlight::testing::TempFolder;
using ::testing::HasSubstr;
using namespace std::string_literals;

struct Malformed {
    std::string text;
    int line;
    std::string what;
};

TEST(SettingsFile, EveryMalformedFileNamesTheFileTheLineAndWhatIsWrong) {
    const std::vector<Malformed> cases = {
        {"universe = 1\n", 1, "universe = 1 is outside a [port N] section"},
        {"[port 888]\nbackend = ola\n[lamps]\n", 3, "unknown section [lamps]"},
        {"[port 888]\n[port 70000]\n", 2, "unknown section [port 70000]"},
        {"[port 888]\nunivers = 2\n", 2, "unknown key \"univers\"; the keys are backend, device"},
        {"[port 888]\nchannel = 506\n", 2, "channel = 506 is not a whole number 1..505"},
        {"[port 888]\nlevel = bright\n", 2, "level = bright is not a whole number 1..255"},
        {"[port 888]\nola-port = 9010 # olad\n", 2, "ola-port = 9010 # olad is not a whole"},
        // A module's keys are checked with the file, before any module is loaded.
        {"[port 888]\nlines = 1 2 3\n", 2,
         "lines = 1 2 3 is not eight lines of a chip: 3 lines given"},
        {"[port 888]\nactive-low = maybe\n", 2, "active-low = maybe is neither yes nor no"},
        {"[port 888]\nbackend = paralel\n", 2,
         "backend = paralel is not one of auto, parport, sim, ola"},
        {"[port 888]\ndevice =\n", 2, "device =  is empty"},
        {"[port 888]\nuniverse = 1\nuniverse = 2\n", 3, "universe is set twice (first on line 2)"},
        {"[port 888]\n\n[port 0x378]\n", 3, "[port 888] comes twice (first on line 1)"},
        {"[port 888]\njust words\n", 2, "not a [port N] header, a key = value line or a comment"},
        {"[port 888\nbackend = sim\n", 1, "not a [port N] header"},
        {"[port 888]\ndevice = /dev/" + std::string(300, 'p') + "\nlevel = 0\n", 2,
         "the line is longer than 198 characters"},
        // Comments and blank lines count as lines; the first problem wins.
        {"; lamps\n# more\n\n[port 888]\nchannel=1\nlevel = abc\nbogus = 1\n", 6, "level = abc"},
        {"[port 632]\nbackend = sim\n\n[port 888]\nchannel = 0\n", 5, "channel = 0"},
        // Nothing that inih would drop or take otherwise is let through.
        {"[port 888] backend = ola\n", 1, "\"backend = ola\" after the section's \"]\""},
        {"[port 888]\nbackend : sim\n", 2,
         "\"backend : sim\" has a colon; write \"backend = sim\""},
        {"[port 888]\nbackend = sim\n\0\nlevel = 1\n"s, 3, "a NUL byte"},
        {"[port 888]\nback\0end = ola\nlevel = 1\n"s, 2, "a NUL byte in the line (column 5)"},
    };
    TempFolder folder;
    for (const Malformed& bad : cases) {
        folder.write("portio.conf", bad.text);
        const auto file = readSettingsFile(folder / "portio.conf");
        ASSERT_FALSE(file) << bad.text;
        EXPECT_THAT(file.error(),
                    HasSubstr(folder / "portio.conf:" + std::to_string(bad.line) + ": " + bad.what))
            << bad.text;
    }

    auto file = readSettingsFile(folder.path());
    ASSERT_FALSE(file) << "a folder is no file";
    EXPECT_THAT(file.error(), HasSubstr(folder.path() + ": cannot read it: it is a folder"));

    ASSERT_EQ(::symlink((folder / "gone.conf").c_str(), (folder / "link.conf").c_str()), 0);
    file = readSettingsFile(folder / "link.conf");
    ASSERT_FALSE(file) << "a link to nothing";
    EXPECT_THAT(file.error(), HasSubstr(folder / "link.conf: a link to " + folder / "gone.conf" +
                                        ", which does not exist"));

    file = readSettingsFile(folder / "missing.conf");
    ASSERT_TRUE(file) << "no file is no error: nothing is set";
    EXPECT_FALSE(file->exists);
}

// What `work` returns, run in a child process that is given two seconds:
// else "hung" or "killed by signal N".
std::string inAChildWithin2s(const std::function<std::string()>& work) {
    int answer[2];
    if (::pipe(answer) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string text = work();
        (void)!::write(answer[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(answer[1]);
    std::string text;
    pollfd ready{answer[0], POLLIN, 0};
    char buffer[1024];
    bool ended = false;
    while (!ended && ::poll(&ready, 1, 2000) == 1) {
        const ssize_t got = ::read(answer[0], buffer, sizeof buffer);
        ended = got <= 0;
        text.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(answer[0]);
    int status = 0;
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return "hung";
    }
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status)) : text;
}

// A settings file that is a FIFO (nobody writes it) or a link to an endless
// device: every program reads its settings at START, none may hang on it.
TEST(SettingsFile, OneThatIsNoRegularFileIsRefusedAtOnce) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "fifo.conf").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (folder / "zero.conf").c_str()), 0);
    for (const std::string name : {"fifo.conf", "zero.conf"}) {
        const std::string path = folder / name;
        const std::string said = inAChildWithin2s([&path] {
            const auto file = readSettingsFile(path);
            return file ? "read" : file.error();
        });
        EXPECT_THAT(said, HasSubstr(path + ": cannot read it: it is a "));
        EXPECT_THAT(said, HasSubstr(", not a text file"));
    }
}

TEST(Settings, TheFileChoosesTheBackEndAndTheEnvironmentOverridesIt) {
    TempFolder folder;
    const std::string path = folder / "portio.conf";
    folder.write("portio.conf",
                 "[port 888]\nbackend = ola\nuniverse = 3\n  channel = 9  ; the ninth\n"
                 "[port 0x278]\nbackend = sim\nchannel = 500\n");
    Environment settings;
    settings.configFile = path;
    PortSettings resolved;

    auto choice = chooseWithSettings(888, settings, resolved);
    EXPECT_EQ(choice.kind, Choice::Kind::Module);
    EXPECT_EQ(resolved.find("backend")->origin, path + ":2");
    EXPECT_EQ(resolved.text("universe"), "3");
    EXPECT_EQ(resolved.find("channel")->text, "9");
    EXPECT_EQ(resolved.find("channel")->origin, path + ":4");
    EXPECT_EQ(resolved.find("level")->text, "255");
    EXPECT_EQ(resolved.find("level")->origin, "default");
    EXPECT_EQ(resolved.find("ola-port")->text, "9010");
    EXPECT_EQ(resolved.find("device"), nullptr);

    EXPECT_EQ(chooseWithSettings(632, settings, resolved).kind, Choice::Kind::Sim);
    EXPECT_EQ(resolved.text("channel"), "500");
    EXPECT_EQ(chooseWithSettings(889, settings, resolved).kind, Choice::Kind::Sim)
        << "a port the file does not name takes the defaults";
    EXPECT_EQ(resolved.find("backend")->origin, "default");

    settings.variables = {{"PORTIO_OLA_UNIVERSE", "7"}, {"PORTIO_OLA_LEVEL", ""}};
    choice = chooseWithSettings(888, settings, resolved);
    EXPECT_EQ(resolved.text("universe"), "7");
    EXPECT_EQ(resolved.find("universe")->origin, "PORTIO_OLA_UNIVERSE");
    EXPECT_EQ(resolved.find("level")->origin, "default") << "an empty variable is unset";

    settings.variables["PORTIO_OLA_CHANNEL"] = "0x10";
    choice = chooseWithSettings(888, settings, resolved);
    EXPECT_EQ(choice.kind, Choice::Kind::Error);
    EXPECT_THAT(
        choice.error,
        HasSubstr("port 888 (0x378): PORTIO_OLA_CHANNEL=0x10 is not a whole number 1..505"));

    settings.backend = "sim";  // PORTIO_BACKEND
    choice = chooseWithSettings(888, settings, resolved);
    EXPECT_EQ(choice.kind, Choice::Kind::Sim)
        << "the OLA variables are not checked when OLA is not chosen";
    EXPECT_EQ(resolved.find("backend")->origin, "PORTIO_BACKEND");

    settings.backend = "dmx";
    choice = chooseWithSettings(888, settings, resolved);
    EXPECT_THAT(choice.error,
                HasSubstr("PORTIO_BACKEND=dmx is not one of auto, parport, sim, ola"));
}

std::uint8_t simByte(const std::string& runtimeDir) {
    const auto port = runlight::portio::SimPort::open(
        888, runlight::portio::simFolder(runtimeDir, "").value_or(""));
    const auto state = port ? (*port)->look() : runlight::fail(port.error());
    return state ? state->byte : 0;
}

TEST(PortIo, ABadSettingsFileIsReportedAtEveryWriteUntilItIsMended) {
    TempFolder folder;
    TempFolder runtime;
    Environment settings;
    settings.runtimeDir = runtime.path();
    settings.procRoot = folder.path();  // no parallel port here
    settings.configFile = folder / "portio.conf";
    folder.write("portio.conf", "[port 888]\nbackend = sim\nlevl = 3\n");
    PortIo io(settings);

    io.out(888, 0x5A);
    EXPECT_THAT(io.lastError(),
                HasSubstr("port 888 (0x378): " + settings.configFile + ":3: unknown key \"levl\""));
    EXPECT_EQ(simByte(runtime.path()), 0) << "nothing is written on a bad file";
    io.out(888, 0x5A);
    EXPECT_NE(io.lastError(), "") << "never silently ignored after the first report";

    folder.write("portio.conf", "[port 888]\nbackend = sim\ntrace = " + folder / "trace" + "\n");
    io.out(888, 0x5A);
    EXPECT_EQ(io.lastError(), "") << "the mended file is read again at the next write";
    EXPECT_EQ(simByte(runtime.path()), 0x5A);
    const auto traced = runlight::testing::fileLines(folder / "trace");
    ASSERT_EQ(traced.size(), 1u) << "the file's trace key";
    EXPECT_THAT(traced[0], ::testing::EndsWith(" 888 90"));
}

TEST(ModuleLoader, AMissingModuleNamesItsPackageAndAnotherVersionIsRefused) {
    TempFolder empty;
    Environment settings;
    settings.backend = "ola";
    settings.variables = {{"PORTIO_OLA_UNIVERSE", "42"}};

    settings.moduleFolders = {empty.path()};
    PortIo missing(settings);
    missing.out(888, 1);
    EXPECT_THAT(
        missing.lastError(),
        HasSubstr("port 888 (0x378): the OLA (DMX) back end is not installed: "
                  "libportio-ola.so.1 is in none of " +
                  empty.path() + "; install the qtx-ola package (\"sudo apt install qtx-ola\")"));

    settings.moduleFolders = {empty.path(), TEST_MODULE_OTHER_DIR};
    PortIo other(settings);
    other.out(888, 1);
    EXPECT_THAT(other.lastError(), HasSubstr(std::string(TEST_MODULE_OTHER_DIR) +
                                             "/libportio-ola.so.1 speaks module interface 2, "
                                             "this port library speaks 1"));

    settings.moduleFolders = {empty.path(), TEST_MODULE_CURRENT_DIR, TEST_MODULE_OTHER_DIR};
    PortIo current(settings);
    current.out(888, 1);
    EXPECT_EQ(current.lastError(), "");
    EXPECT_EQ(current.in(888), 42) << "the module got the port's universe";
    current.out(888, 0xEE);
    EXPECT_THAT(current.lastError(), HasSubstr("universe from PORTIO_OLA_UNIVERSE"));
}

// A module file cut short (a broken install, a disk that filled up during an
// upgrade) and a FIFO in its place: START names the file and what to do, it
// neither dies of SIGBUS nor waits for ever, and nothing else is tried.
TEST(ModuleLoader, ADamagedModuleIsRefusedByNameNeverLoaded) {
    const std::string good = TEST_MODULE_CURRENT_DIR "/libportio-ola.so.1";
    TempFolder cut;
    TempFolder fifo;
    std::filesystem::copy_file(good, cut / "libportio-ola.so.1");
    std::filesystem::resize_file(cut / "libportio-ola.so.1", std::filesystem::file_size(good) / 2);
    ASSERT_EQ(::mkfifo((fifo / "libportio-ola.so.1").c_str(), 0600), 0);
    for (const TempFolder* folder : {&cut, &fifo}) {
        const std::string said = inAChildWithin2s([folder] {
            Environment settings;
            settings.backend = "ola";
            settings.moduleFolders = {folder->path(), TEST_MODULE_CURRENT_DIR};
            PortIo io(settings);
            io.out(888, 1);
            return io.lastError();
        });
        EXPECT_THAT(said, HasSubstr("port 888 (0x378): cannot load the OLA (DMX) back end " +
                                    *folder / "libportio-ola.so.1" + ": the file is damaged: "));
        EXPECT_THAT(said, HasSubstr("; reinstall the qtx-ola package"));
    }
}

// portio-out links the core in: the folder it looks in for modules is that
// of its real file, not the one its starter names it by (exec -a).
TEST(ModuleLoader, AProgramLooksForModulesBesideItsRealFileOnly) {
    TempFolder decoy;
    std::filesystem::copy_file(TEST_MODULE_OTHER_DIR "/libportio-ola.so.1",
                               decoy / "libportio-ola.so.1");
    const std::string command =
        "env PORTIO_BACKEND=ola XDG_CONFIG_HOME=/nonexistent bash -c "
        "'exec -a " +
        decoy / "portio-out" + " " PORTIO_OUT_PATH " 1' 2>&1";
    const std::string said = runCommand(command).second;
    EXPECT_THAT(said, HasSubstr("port 888 (0x378)"));
    EXPECT_THAT(said, ::testing::Not(HasSubstr(decoy.path()))) << "the decoy was looked at";
}

}  // namespace
