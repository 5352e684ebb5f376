#include "platform/settings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using platform::SettingsRoot;
using platform::SettingsStore;

namespace {

constexpr const char* kViewerKey = "Software\\Ardentel Network Camera Viewer";

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/camctl-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path File() const { return m_dir / "sub" / "settings.reg"; }

    std::filesystem::path m_dir;
};

std::string Slurp(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

} // namespace

TEST_F(SettingsTest, ValuesRoundTripThroughTheFileWithRegistryNameRules)
{
    SettingsStore store(File());
    EXPECT_FALSE(store.GetString(SettingsRoot::CurrentUser, kViewerKey, "PicturePath"));
    const std::string tricky = "C:\\pics \"quoted\"\nnext line; = [x]";
    ASSERT_TRUE(store.SetString(SettingsRoot::CurrentUser, kViewerKey, "PicturePath", tricky));
    ASSERT_TRUE(store.SetDword(SettingsRoot::CurrentUser, kViewerKey, "Count", 0xDEADBEEF));
    ASSERT_TRUE(store.SetString(SettingsRoot::ClassesRoot, "CLSID\\{1234}", "", "default"));

    SettingsStore again(File()); // a second store on the same file sees everything
    EXPECT_EQ(again.GetString(SettingsRoot::CurrentUser, kViewerKey, "picturepath"), tricky);
    EXPECT_EQ(again.GetString(SettingsRoot::CurrentUser, "SOFTWARE\\ardentel network camera viewer",
                              "PicturePath"),
              tricky);
    EXPECT_EQ(again.GetDword(SettingsRoot::CurrentUser, kViewerKey, "Count"), 0xDEADBEEFu);
    // A text is not a number and the roots are apart.
    EXPECT_FALSE(again.GetDword(SettingsRoot::CurrentUser, kViewerKey, "PicturePath"));
    EXPECT_FALSE(again.GetString(SettingsRoot::ClassesRoot, kViewerKey, "PicturePath"));
    EXPECT_EQ(again.GetString(SettingsRoot::ClassesRoot, "CLSID\\{1234}", ""), "default");

    // Overwriting keeps one value; the file stays readable by a person.
    ASSERT_TRUE(store.SetDword(SettingsRoot::CurrentUser, kViewerKey, "count", 7));
    std::string text = Slurp(File());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Ardentel Network Camera Viewer]"),
              std::string::npos);
    EXPECT_NE(text.find("=dword:00000007"), std::string::npos);
    EXPECT_EQ(text.find("deadbeef"), std::string::npos);
}

TEST_F(SettingsTest, DeletingAKeyTakesItsSubkeysButNotItsNeighbours)
{
    SettingsStore store(File());
    store.SetString(SettingsRoot::ClassesRoot, "CLSID\\{A}", "", "a");
    store.SetString(SettingsRoot::ClassesRoot, "CLSID\\{A}\\InprocServer32", "", "lib.so");
    store.SetString(SettingsRoot::ClassesRoot, "CLSID\\{A}2", "", "neighbour");
    EXPECT_TRUE(store.KeyExists(SettingsRoot::ClassesRoot, "CLSID"));
    EXPECT_TRUE(store.DeleteKey(SettingsRoot::ClassesRoot, "clsid\\{a}"));
    EXPECT_FALSE(store.KeyExists(SettingsRoot::ClassesRoot, "CLSID\\{A}"));
    EXPECT_FALSE(store.KeyExists(SettingsRoot::ClassesRoot, "CLSID\\{A}\\InprocServer32"));
    EXPECT_EQ(store.GetString(SettingsRoot::ClassesRoot, "CLSID\\{A}2", ""), "neighbour");
    EXPECT_FALSE(store.DeleteKey(SettingsRoot::ClassesRoot, "CLSID\\{A}"));
    EXPECT_TRUE(store.DeleteValue(SettingsRoot::ClassesRoot, "CLSID\\{A}2", ""));
    EXPECT_FALSE(store.DeleteValue(SettingsRoot::ClassesRoot, "CLSID\\{A}2", ""));
}

TEST_F(SettingsTest, DefaultFileFollowsXdgConfigHome)
{
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), m_dir / "camctl" / "settings.reg");
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsTest, DefaultFileIsTheOneCamctlSettingsNamesWhenSet)
{
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"CAMCTL_SETTINGS", "XDG_CONFIG_HOME"}) {
        const char* v = std::getenv(name);
        saved.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    ::setenv("CAMCTL_SETTINGS", File().c_str(), 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), File());
    ::setenv("CAMCTL_SETTINGS", "", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), m_dir / "camctl" / "settings.reg");
    for (const auto& [name, value] : saved) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
}

TEST_F(SettingsTest, HandEditedOrDamagedLinesAreSkippedNotFatal)
{
    std::filesystem::create_directories(File().parent_path());
    std::ofstream(File()) << "; comment\r\n"
                             "\"orphan\"=\"before any key\"\n"
                             "[HKEY_CURRENT_USER\\K]\r\n"
                             "\"good\"=\"yes\"\r\n"
                             "\"unterminated=\"x\n"
                             "\"badnum\"=dword:xyz\n"
                             "\"toolong\"=dword:123456789\n"
                             "\"n\"=dword:0000002A\n"
                             "[broken\n";
    SettingsStore store(File());
    EXPECT_EQ(store.GetString(SettingsRoot::CurrentUser, "K", "good"), "yes");
    EXPECT_EQ(store.GetDword(SettingsRoot::CurrentUser, "K", "n"), 42u);
    EXPECT_FALSE(store.GetDword(SettingsRoot::CurrentUser, "K", "badnum"));
    EXPECT_FALSE(store.GetDword(SettingsRoot::CurrentUser, "K", "toolong"));
    EXPECT_FALSE(store.GetString(SettingsRoot::CurrentUser, "K", "orphan"));
}

TEST_F(SettingsTest, AKillDuringWritesNeverLeavesAHalfWrittenFile)
{
    SettingsStore store(File());
    ASSERT_TRUE(store.SetString(SettingsRoot::CurrentUser, kViewerKey, "Stable", "keep me"));
    std::mt19937 rng(1234);
    for (int round = 0; round < 15; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Big values make each write long, so the kill lands inside one.
            std::string filler(200000, 'x');
            for (uint32_t i = 0;; ++i) {
                store.SetString(SettingsRoot::CurrentUser, kViewerKey, "Filler", filler);
                store.SetDword(SettingsRoot::CurrentUser, kViewerKey, "Counter", i);
            }
        }
        ::usleep(2000 + rng() % 30000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        SettingsStore reader(File());
        EXPECT_EQ(reader.GetString(SettingsRoot::CurrentUser, kViewerKey, "Stable"), "keep me")
            << "round " << round;
        auto filler = reader.GetString(SettingsRoot::CurrentUser, kViewerKey, "Filler");
        if (filler) {
            EXPECT_EQ(filler->size(), 200000u);
        }
    }
    // A writer killed after its lock was taken does not block the next one.
    EXPECT_TRUE(store.SetDword(SettingsRoot::CurrentUser, kViewerKey, "After", 1));
}
