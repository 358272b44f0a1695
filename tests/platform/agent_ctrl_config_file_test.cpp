#include "platform/agent_ctrl_config_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_os.h"

namespace orv {
namespace {

using Config = AgentCtrl_ConfigFile;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

// The file the agent's own writer produces when the cloud sends no rules.
const std::string kMinimal = std::string(kBom) + std::string(kDeclaration) +
                             "<config>\r\n  <ver>1.00</ver>\r\n</config>";

// Rules of every log type, children in any order, a duplicate, one rule outside any logtype,
// texts with spaces, an entity, a line break and Japanese.
const std::string kRich = std::string(kBom) + std::string(kDeclaration) +
    "<!-- event definitions -->\r\n"
    "<config>\r\n"
    "  <ver>2.10</ver>\r\n"
    "  <addevent>\r\n"
    "    <logtype path=\"Application\">\r\n"
    "      <log><src>Orvane Backup</src><evt_id>1001</evt_id><act_id>5001</act_id>"
    "<msg>\xE3\x83\x90\xE3\x83\x83\xE3\x82\xAF\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\xE5\xA4\xB1\xE6\x95\x97</msg></log>\r\n"
    "      <log><msg> Disk &amp; volume  </msg><act_id>5002</act_id><src>disk</src><evt_id>7</evt_id></log>\r\n"
    "      <log><src>disk</src><evt_id>7</evt_id><act_id>5002</act_id><msg> Disk &amp; volume  </msg></log>\r\n"
    "    </logtype>\r\n"
    "    <logtype path=\"System\">\r\n"
    "      <log><src>Service Control Manager</src><evt_id>7036</evt_id><act_id>6001</act_id>"
    "<msg>line1\r\nline2</msg></log>\r\n"
    "    </logtype>\r\n"
    "    <logtype path=\"Security\">\r\n"
    "      <log><src>a</src><evt_id>1</evt_id><act_id>2</act_id><msg>m</msg></log>\r\n"
    "    </logtype>\r\n"
    "    <log><src>dropped</src><evt_id>1</evt_id><act_id>1</act_id><msg>x</msg></log>\r\n"
    "  </addevent>\r\n"
    "  <stopevent>\r\n"
    "    <act_id>5002</act_id>\r\n"
    "    <act_id>9000</act_id>\r\n"
    "  </stopevent>\r\n"
    "</config>\r\n";

std::string Wrapped(std::string_view body) {
  return "<config><ver>1.00</ver>" + std::string(body) + "</config>";
}

// <config> and `depth` elements inside it, the innermost holding `inner`.
std::string Nested(std::size_t depth, std::string_view inner = "") {
  std::string text = "<config><ver>1.00</ver>";
  for (std::size_t i = 0; i < depth; ++i) text += "<a>";
  text += inner;
  for (std::size_t i = 0; i < depth; ++i) text += "</a>";
  return text + "</config>";
}

// What `oscheck xml` prints for a file: "<status> <version or -> <app> <system> <other> <stop>".
std::string Summary(const Config& config) {
  return std::to_string(config.GetLoadStatus()) + " " +
         (config.GetVersion().empty() ? std::string("-") : config.GetVersion()) + " " +
         std::to_string(config.ApplicationDefinitions().size()) + " " +
         std::to_string(config.SystemDefinitions().size()) + " " +
         std::to_string(config.OtherDefinitions().size()) + " " +
         std::to_string(config.StopList().size());
}

// Files live in the fake file system; FakeOs's reader hands them to libxml2 through a copy.
class ConfigFileTest : public ::testing::Test {
 protected:
  std::string Write(std::string_view name, std::string_view content) {
    const std::string path = "C:\\orvsvc\\" + std::string(name);
    os.files.AddFile(path, content);
    return path;
  }

  // Loads `content` as the definition file; checks that Load's answer matches the status.
  std::int32_t LoadText(std::string_view content) {
    config.SetPath(Write("definition.xml", content));
    const bool loaded = config.Load();
    EXPECT_EQ(loaded, config.GetLoadStatus() == Config::kLoaded);
    return config.GetLoadStatus();
  }

  fakes::FakeOs os;
  Config config{os.files, os.xmlReader};
};

TEST_F(ConfigFileTest, RulesAreFiledByLogTypeInFileOrderWithTextsAsWritten) {
  ASSERT_EQ(LoadText(kRich), Config::kLoaded);
  EXPECT_EQ(config.GetVersion(), "2.10");
  const EventDefinition disk{"disk", "7", "5002", " Disk & volume  "};
  EXPECT_EQ(config.ApplicationDefinitions(),
            (std::vector<EventDefinition>{
                {"Orvane Backup", "1001", "5001",
                 "\xE3\x83\x90\xE3\x83\x83\xE3\x82\xAF\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97"
                 "\xE5\xA4\xB1\xE6\x95\x97"},
                disk,
                disk}))
      << "identical rules are both kept";
  EXPECT_EQ(config.SystemDefinitions(),
            (std::vector<EventDefinition>{
                {"Service Control Manager", "7036", "6001", "line1\nline2"}}));
  EXPECT_EQ(config.OtherDefinitions(), (std::vector<EventDefinition>{{"a", "1", "2", "m"}}));
  EXPECT_EQ(config.StopList(), (std::vector<std::string>{"5002", "9000"}));
}

TEST_F(ConfigFileTest, LogTypeComesOnlyFromAFirstPathAttribute) {
  const std::string rule = "<log><src>r</src></log>";
  const std::vector<std::pair<std::string, std::string>> cases = {  // body, Summary
      {"<logtype path=\"application\">" + rule + "</logtype>", "1 1.00 0 0 1 0"},
      // Not first: the type stays what it was (none at the start).
      {"<logtype id=\"1\" path=\"System\">" + rule + "</logtype>", "1 1.00 0 0 0 0"},
      {"<logtype path=\"System\"><logtype id=\"1\">" + rule + "</logtype></logtype>", "1 1.00 0 1 0 0"},
      // Any logtype end resets the type, even an inner one: the outer type is not restored.
      {"<logtype path=\"System\"><logtype path=\"Application\"></logtype>" + rule + "</logtype>" + rule,
       "1 1.00 0 0 0 0"},
  };
  for (const auto& [body, expected] : cases) {
    LoadText(Wrapped("<addevent>" + body + "</addevent>"));
    EXPECT_EQ(Summary(config), expected) << body;
  }
}

TEST_F(ConfigFileTest, EachLoadStartsFromEmptyTablesAndAMissingFileIsNoFile) {
  EXPECT_FALSE(config.Load()) << "no path set";
  EXPECT_EQ(config.GetLoadStatus(), Config::kNoFile);
  LoadText(kRich);
  LoadText(kRich);
  EXPECT_EQ(Summary(config), "1 2.10 3 1 1 2") << "loading twice does not add up";
  config.SetPath("C:\\orvsvc\\absent.xml");
  EXPECT_FALSE(config.Load());
  EXPECT_EQ(Summary(config), "2 - 0 0 0 0") << "a failed load leaves no stale rules or version";

  // Known to the file system port, gone when the reader opens it.
  os.xmlReader.openError = os::kErrorFileNotFound;
  config.SetPath(Write("vanished.xml", kMinimal));
  EXPECT_FALSE(config.Load());
  EXPECT_EQ(config.GetLoadStatus(), Config::kReaderFailed);
  EXPECT_EQ(config.GetLastResult(), os::XmlResultFromOsError(os::kErrorFileNotFound));
}

TEST_F(ConfigFileTest, MalformedDocumentsAndEveryPrefixOfAValidFileNeverLoad) {
  for (const std::string& text : {std::string("<config><ver a='1' a='2'>1.00</ver></config>"),
                                  std::string("<config><ver>1.00</ver><p:x/></config>"),  // as XmlLite says
                                  std::string("<config><ver>1.00\xFF</ver></config>"),
                                  // A DTD is refused before anything in it can be fetched.
                                  std::string("<!DOCTYPE config SYSTEM \"http://127.0.0.1:9/x.dtd\"><config><ver>1.00</ver></config>")}) {
    EXPECT_EQ(LoadText(text), Config::kIncomplete) << text;
  }
  const std::size_t complete = kRich.find("</config>") + std::string_view("</config>").size();
  for (std::size_t length = 0; length <= kRich.size(); ++length) {
    const std::int32_t expected = length < complete ? Config::kIncomplete : Config::kLoaded;
    ASSERT_EQ(LoadText(std::string_view(kRich).substr(0, length)), expected) << length;
  }
}

// The files and results testbed/wine/tests/test_config_reader_parity.py checks under Wine's
// XmlLite; change both together. Only the status is compared for a failed load: how much a
// reader read before its error differs.
TEST_F(ConfigFileTest, ParityCorpusGivesTheSameResultsAsXmlLite) {
  const std::string emptyLog =
      Wrapped("<addevent><logtype path=\"Application\"><log/></logtype></addevent>");
  const std::vector<std::pair<std::string, std::string>> corpus = {
      {kMinimal, "1 1.00 0 0 0 0"},
      {"<config>\r\n</config>", "4 - 0 0 0 0"},
      {"<config><ver></ver></config>", "4 - 0 0 0 0"},
      {"<config><ver> \r\n </ver></config>", "4 - 0 0 0 0"},
      {"<root><ver>1.00</ver></root>", "1 1.00 0 0 0 0"},  // names are tracked, not the tree
      // A known element written as an empty tag never closes; an unknown one has no flag.
      {emptyLog, "4 1.00 0 0 0 0"},
      {Wrapped("<stopevent/>"), "4 1.00 0 0 0 0"},
      {Wrapped("<note/><stopevent><act_id>1</act_id></stopevent>"), "1 1.00 0 0 0 1"},
      {"<config><ver>1.00</ver><addevent></config>", "4"},
      {kRich.substr(0, kRich.size() / 2), "4"},
      {kRich, "1 2.10 3 1 1 2"},
      {kRich + "junk", "4"},
      {"<!DOCTYPE config [<!ENTITY v \"9.99\">]><config><ver>&v;</ver></config>", "4"},
      {Wrapped("<addevent><logtype xmlns=\"urn:x\" path=\"System\"><log/></logtype></addevent>"),
       "4 1.00 0 0 0 0"},
      {Nested(os::kXmlMaxDepth - 1), "1 1.00 0 0 0 0"},
      {Nested(os::kXmlMaxDepth), "4"},
      {Nested(os::kXmlMaxDepth - 1, "<b/>"), "4"},  // an empty element counts
      {Nested(0, std::string(os::kXmlMaxTextLength, 'x')), "1 1.00 0 0 0 0"},
      {Nested(0, std::string(os::kXmlMaxTextLength + 1, 'x')), "4"},
  };
  for (const auto& [text, expected] : corpus) {
    LoadText(text);
    const std::string summary = Summary(config);
    EXPECT_EQ(expected.size() == 1 ? summary.substr(0, 1) : summary, expected)
        << text.substr(0, 200);
  }
}

// A real reader whose n-th name or value request of an element or text fails: wherever a
// reader fails mid-document, the load fails with the reader's result and never counts as a
// load. (A logtype's unreadable attribute only leaves its type as it was.)
class NameOrValueFailingAt final : public os::XmlReader, public os::XmlNodeReader {
 public:
  NameOrValueFailingAt(os::XmlReader& real, int failAt) : real_(real), failAt_(failAt) {}
  os::XmlResult OpenFile(std::string_view path, std::unique_ptr<os::XmlNodeReader>& reader) override {
    const os::XmlResult opened = real_.OpenFile(path, inner_);
    reader = std::make_unique<Forward>(*this);
    return opened;
  }
  os::XmlResult Read(os::XmlNode& node) override {
    onAttribute_ = false;
    return inner_->Read(node);
  }
  os::XmlResult LocalName(std::string& name) override { return Fails() ? os::kXmlFail : inner_->LocalName(name); }
  os::XmlResult Value(std::string& value) override { return Fails() ? os::kXmlFail : inner_->Value(value); }
  os::XmlResult MoveToFirstAttribute() override {
    const os::XmlResult moved = inner_->MoveToFirstAttribute();
    onAttribute_ = moved == os::kXmlOk;
    return moved;
  }
  int calls_ = 0;

 private:
  bool Fails() { return !onAttribute_ && ++calls_ == failAt_; }
  struct Forward final : os::XmlNodeReader {
    explicit Forward(NameOrValueFailingAt& to) : to_(to) {}
    os::XmlResult Read(os::XmlNode& node) override { return to_.Read(node); }
    os::XmlResult LocalName(std::string& name) override { return to_.LocalName(name); }
    os::XmlResult Value(std::string& value) override { return to_.Value(value); }
    os::XmlResult MoveToFirstAttribute() override { return to_.MoveToFirstAttribute(); }
    NameOrValueFailingAt& to_;
  };
  os::XmlReader& real_;
  std::unique_ptr<os::XmlNodeReader> inner_;
  int failAt_;
  bool onAttribute_ = false;
};

TEST_F(ConfigFileTest, AReaderFailingAtAnyNameOrValueIsNeverALoad) {
  const std::string path = Write("definition.xml", kRich);
  NameOrValueFailingAt counting(os.xmlReader, 0);
  Config counted(os.files, counting);
  counted.SetPath(path);
  ASSERT_TRUE(counted.Load());
  ASSERT_GT(counting.calls_, 10);
  for (int failAt = 1; failAt <= counting.calls_; ++failAt) {
    NameOrValueFailingAt failing(os.xmlReader, failAt);
    Config failed(os.files, failing);
    failed.SetPath(path);
    EXPECT_FALSE(failed.Load()) << failAt;
    EXPECT_EQ(failed.GetLoadStatus(), Config::kReaderFailed) << failAt;
    EXPECT_EQ(failed.GetLastResult(), os::kXmlFail) << failAt;
  }
}

}  // namespace
}  // namespace orv
