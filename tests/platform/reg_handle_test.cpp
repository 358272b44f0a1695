#include "platform/reg_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "fakes/fake_registry.h"
#include "platform/text_encoding.h"

namespace orv {
namespace {

using os::RegistryType;
using namespace std::string_view_literals;

constexpr const char* kStatusKey = "SOFTWARE\\ORVANE\\ORVSVC\\Status";

class RegHandleTest : public ::testing::Test {
 protected:
  RegHandleTest() { registry.AddKey(kStatusKey); }

  void Store(const char* name, RegistryType type, std::vector<std::uint8_t> bytes) {
    ASSERT_EQ(registry.SetValue(os::RegistryRoot::LocalMachine, kStatusKey, name, type, bytes),
              os::kSuccess);
  }
  static std::vector<std::uint8_t> Wide(std::u16string_view text) { return Utf16ToLeBytes(text); }

  fakes::FakeRegistry registry;
  RegHandle status{registry, RegHandle::Root::LocalMachine, kStatusKey};
};

TEST_F(RegHandleTest, DwordRoundTripsAndMissingOrMistypedReadsAsMissing) {
  EXPECT_TRUE(status.SetDword("CheckInterval", 60));
  EXPECT_EQ(status.GetDword("CheckInterval"), 60U);
  EXPECT_EQ(status.GetDword("OutputInterval"), std::nullopt);

  Store("AsText", RegistryType::String, Wide(u"60\0"));
  EXPECT_EQ(status.GetDword("AsText"), std::nullopt);
  Store("Short", RegistryType::Dword, {1, 2});
  EXPECT_EQ(status.GetDword("Short"), std::nullopt);

  // The settings rule: unreadable and a stored 0xFFFFFFFF take the default; 0 is a value.
  EXPECT_TRUE(status.SetDword("AllOnes", 0xFFFFFFFF));
  EXPECT_EQ(status.GetDword("AllOnes"), 0xFFFFFFFFU);
  EXPECT_EQ(status.GetDwordOr("AllOnes", 7), 7U);
  EXPECT_EQ(status.GetDwordOr("AsText", 7), 7U);
  EXPECT_TRUE(status.SetDword("Zero", 0));
  EXPECT_EQ(status.GetDwordOr("Zero", 7), 0U);
}

TEST_F(RegHandleTest, NeverCreatesKeysAndFailuresAreResults) {
  const RegHandle missing(registry, RegHandle::Root::LocalMachine, "SOFTWARE\\ORVANE\\Nope");
  EXPECT_FALSE(missing.SetDword("CheckInterval", 60));
  EXPECT_FALSE(missing.SetString("Name", "x"));
  EXPECT_FALSE(missing.KeyExists());
  EXPECT_FALSE(registry.HasKey("SOFTWARE\\ORVANE\\Nope"));

  // A failing registry gives results, not surprises.
  registry.FailKey(kStatusKey, os::kErrorAccessDenied);
  EXPECT_EQ(status.GetDword("CheckInterval"), std::nullopt);
  EXPECT_FALSE(status.SetDword("CheckInterval", 1));
  EXPECT_FALSE(status.KeyExists());
}

TEST_F(RegHandleTest, UnsetRootOrPathFailsWithoutTouchingTheRegistry) {
  const RegHandle defaulted;
  const RegHandle noRoot(registry, RegHandle::Root::None, kStatusKey);
  const auto before = registry.TotalUses();
  std::string text = "stale";
  std::vector<std::string> list{"stale"};
  for (const RegHandle* handle : {&defaulted, &noRoot}) {
    EXPECT_EQ(handle->GetDword("CheckInterval"), std::nullopt);
    EXPECT_FALSE(handle->SetDword("CheckInterval", 1));
    EXPECT_FALSE(handle->GetString("Name", text));
    EXPECT_TRUE(text.empty()) << "outputs are cleared first";
    EXPECT_FALSE(handle->GetMultiString("List", list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(handle->DeleteValue("CheckInterval"));
  }
  EXPECT_EQ(registry.TotalUses(), before);
}

// Values as this agent writes them and as other programs leave them.
TEST_F(RegHandleTest, TextsAndListsAreWrittenWithTerminatorsAndReadBackWhole) {
  const std::string longText(3000, 'x');  // more than 1024 bytes
  const std::vector<std::string> rows(200, std::string(40, 'r'));  // more than 8192 bytes
  EXPECT_TRUE(status.SetString("ProxyServer", "proxy.example.jp"));
  EXPECT_TRUE(status.SetString("Long", longText));
  EXPECT_TRUE(status.SetMultiString("Written", std::vector<std::string>{"x", "ユ"}));
  EXPECT_TRUE(status.SetMultiString("Nothing", std::vector<std::string>{}));
  EXPECT_TRUE(status.SetMultiString("Rows", rows));
  EXPECT_EQ(registry.Value(kStatusKey, "ProxyServer")->data, Wide(u"proxy.example.jp\0"sv));
  EXPECT_EQ(registry.Value(kStatusKey, "Written")->data, Wide(u"x\0ユ\0\0"sv));
  EXPECT_EQ(registry.Value(kStatusKey, "Nothing")->data, Wide(u"\0"sv));
  Store("Bare", RegistryType::String, Wide(u"abc"));
  Store("Trailing", RegistryType::ExpandString, Wide(u"abc\0zz"sv));
  Store("Two", RegistryType::MultiString, Wide(u"[1][a]\0[2][b]\0\0"sv));
  // What follows an empty item is not part of the list; a missing closing item is tolerated.
  Store("Gap", RegistryType::MultiString, Wide(u"a\0\0b\0\0"sv));
  Store("Open", RegistryType::MultiString, Wide(u"a\0b"sv));
  Store("None", RegistryType::MultiString, {});
  EXPECT_TRUE(status.SetDword("Number", 5));

  using Texts = std::vector<std::string>;
  const std::vector<std::pair<const char*, std::optional<std::string>>> strings = {
      {"ProxyServer", "proxy.example.jp"}, {"Long", longText}, {"Bare", "abc"}, {"Trailing", "abc"},
      {"Number", std::nullopt}};
  for (const auto& [name, expected] : strings) {
    std::string text = "stale";
    EXPECT_EQ(status.GetString(name, text), expected.has_value()) << name;
    EXPECT_EQ(text, expected.value_or("")) << name;
  }
  const std::vector<std::pair<const char*, std::optional<Texts>>> lists = {
      {"Two", Texts{"[1][a]", "[2][b]"}}, {"Gap", Texts{"a"}}, {"Open", Texts{"a", "b"}}, {"None", Texts{}},
      {"Written", Texts{"x", "ユ"}}, {"Rows", rows}, {"Bare", std::nullopt}};
  for (const auto& [name, expected] : lists) {
    Texts items{"stale"};
    EXPECT_EQ(status.GetMultiString(name, items), expected.has_value()) << name;
    EXPECT_EQ(items, expected.value_or(Texts{})) << name;
  }
}

TEST_F(RegHandleTest, KeyAndValueQuestionsDeletionAndDirectSubKeys) {
  const RegHandle common(registry, RegHandle::Root::LocalMachine, "SOFTWARE\\ORVANE\\ORVSVC\\Status\\B");
  registry.AddKey("SOFTWARE\\ORVANE\\ORVSVC\\Status\\{A}");
  registry.AddKey("SOFTWARE\\ORVANE\\ORVSVC\\Status\\B\\Deeper");
  EXPECT_TRUE(common.SetString("HostName", "NAS"));
  EXPECT_TRUE(common.ValueExists("HostName"));
  EXPECT_TRUE(common.DeleteValue("HostName"));
  EXPECT_FALSE(common.ValueExists("HostName"));

  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(RegHandle::EnumSubKeys(registry, RegHandle::Root::LocalMachine, kStatusKey, names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"B", "{A}"}));

  EXPECT_TRUE(status.KeyExists());
  registry.MakeReadOnly(kStatusKey);
  EXPECT_FALSE(status.KeyExists()) << "a key counts only when it opens with all access";
}

}  // namespace
}  // namespace orv
