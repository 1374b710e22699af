#include "scanner/Scanner.h"
#include "BundleFixture.h"
#include "LogLines.h"
#include "basictools/stlutils.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace Korvane::UpdateManager;
using Korvane::stlutils::replace_all;
using Korvane::Testing::ChannelCapture;
using Korvane::Testing::InfoPlist;
using Korvane::Testing::ScopedEnvironment;
using Korvane::Testing::TempDirectory;
using Korvane::Testing::WriteBundle;
using Korvane::Testing::WriteFile;

namespace
{

enum class Source
{
    EmptyPath,
    Missing,
    Unreachable,
    Directory,
    File,
};

// In definitions and expected lines, $DIR stands for the test directory and
// $FILE for the definition file's path.
struct ScannerCase
{
    const char* name;
    Source source;
    std::string definition;
    bool initialized;
    std::vector<std::string> log;
    std::vector<std::string> defined;
    std::map<std::string, std::string> found;
};

const std::string kRuleA = R"({"file": "$DIR/A.app"})";

const ScannerCase kCases[] = {
    {"EmptyPath",
     Source::EmptyPath,
     "",
     false,
     {R"(error:  Caught exception while parsing json file "": <unspecified file>: read error)"},
     {},
     {}},
    {"MissingFile",
     Source::Missing,
     "",
     false,
     {R"(warning: Could not find scanner definition file: "$FILE")"},
     {},
     {}},
    // The existence test itself fails (name too long): no message.
    {"ExistenceTestFails", Source::Unreachable, "", false, {}, {}, {}},
    {"DirectoryInsteadOfFile",
     Source::Directory,
     "",
     false,
     {R"(error:  Caught exception while parsing json file "$FILE": <unspecified file>: read error)"},
     {},
     {}},
    {"InvalidJsonAfterComments",
     Source::File,
     "// header comment\n{\n  \"scanner\": [\n    /* entry */ {\"name\": \"P\",\n  }\n]}\n",
     false,
     {R"(error:  Caught exception while parsing json file "$FILE": <unspecified file>(5): expected key string)"},
     {},
     {}},
    {"UnterminatedComment",
     Source::File,
     "{\"scanner\": []}\n/* never closed\n",
     false,
     {R"(error:  Caught exception while parsing json file "$FILE": <unspecified file>(2): garbage after data)"},
     {},
     {}},
    {"TooDeeplyNested",
     Source::File,
     "{\"scanner\":\n" + std::string(5000, '[') + std::string(5000, ']') + "}",
     false,
     {R"(error:  Caught exception while parsing json file "$FILE": <unspecified file>(2): nesting too deep)"},
     {},
     {}},
    {"NoScannerMember",
     Source::File,
     R"({"other": {"scanner": []}})",
     true,
     {"error: 'scanner' node not found in scanner definition file: No such node (scanner)"},
     {},
     {}},
    {"EntriesWithoutRulesNameOrSku",
     Source::File,
     R"({"scanner": [
          {"name": "Broken", "sku": "broken"},
          {"sku": "nameless", "rules": []},
          {"name": "NoSku", "rules": []},
          {"name": "Good", "sku": "good", "rules": [)" +
         kRuleA + R"(]}]})",
     true,
     {"warning: Bad scanner definition for product 'Broken': No such node (rules)",
      "warning: Bad scanner definition for product '': No such node (name)",
      "warning: Bad scanner definition for product 'NoSku': No such node (sku)",
      "info: 1 scan rules to find good"},
     {"good"},
     {{"good", "1.0.0"}}},
    {"UnknownRuleKinds",
     Source::File,
     R"({"scanner": [{"name": "P", "sku": "p",
          "rules": [{"path": "$DIR/A.app"}, {"File": "$DIR/A.app"}, {}, "text", []]}]})",
     true,
     {"warning: Could not add Unknown Rule 'path'", "warning: Could not add Unknown Rule 'File'",
      "info: 0 scan rules to find p"},
     {"p"},
     {}},
    {"RegKeyStringCounts",
     Source::File,
     R"({"scanner": [{"name": "P", "sku": "p", "rules": [
          {"regkey": ["HKLM\\Software\\P"]},
          {"regkey": ["a", "b", "c", "d"]},
          {"regkey": ["HKLM\\Software\\P", "Version"]},
          {"regkey": ["k", "v", "x"]}]}]})",
     true,
     {"warning: Missing a string in RegkeyVersionFinder definition in json 'regkey'",
      "warning: Could not add Unknown Rule 'regkey'",
      "warning: Missing a string in RegkeyVersionFinder definition in json 'regkey'",
      "warning: Could not add Unknown Rule 'regkey'", "info: 2 scan rules to find p"},
     {"p"},
     {}},
    {"DuplicateSku",
     Source::File,
     R"({"scanner": [
          {"name": "First", "sku": "dup", "rules": [{"file": "$DIR/Missing.app"}, )" +
         kRuleA + R"(]},
          {"name": "Second", "sku": "dup", "rules": [{"file": "$DIR/B.app"}]}]})",
     true,
     {"info: 2 scan rules to find dup", "info: 3 scan rules to find dup"},
     {"dup"},
     {{"dup", "1.0.0"}}},
    {"RuleObjectWithTwoMembers",
     Source::File,
     R"({"scanner": [{"name": "P", "sku": "p",
          "rules": [{"file": "$DIR/B.app", "regkey": ["only one"]}]}]})",
     true,
     {"info: 1 scan rules to find p"},
     {"p"},
     {{"p", "2.0.1"}}},
    {"ObjectsInsteadOfArrays",
     Source::File,
     R"({"scanner": {"first": {"name": "P", "sku": "p",
          "rules": {"one": {"file": ["x"]}, "two": )" +
         kRuleA + R"(}}}})",
     true,
     {"info: 2 scan rules to find p"},
     {"p"},
     {{"p", "1.0.0"}}},
    {"Comments",
     Source::File,
     R"(// Products installed by Korvane
{
  /* the list
     of products */ "scanner": [
    {
      "name": "Say \"hi\" // not a comment /* nor this */", // no sku
      "rules": []
    },
    {"name": "Odd", "sku": "odd", // trailing
     "rules": [ {"file": "$DIR//c/*x*/d.app"} /* the only rule */ ]},
    {"name": "Unreadable", "sku": "unreadable", "rules": [{"file": "$DIR/NoPlist.app"}]},
    {"name": "Absent", "sku": "absent", "rules": [{"file": "$DIR/Missing.app"}]}
  ]
} // end)",
     true,
     {R"(warning: Bad scanner definition for product 'Say "hi" // not a comment /* nor this */': No such node (sku))",
      "info: 1 scan rules to find odd", "info: 1 scan rules to find unreadable",
      "info: 1 scan rules to find absent"},
     {"odd", "unreadable", "absent"},
     {{"odd", "3.1.4"}, {"unreadable", "unknown"}}},
};

void PrintTo(const ScannerCase& c, std::ostream* out)
{
    *out << c.name;
}

class ScannerTableTest : public ::testing::TestWithParam<ScannerCase>
{
  protected:
    void SetUp() override
    {
        WriteBundle(mDirectory / "A.app", InfoPlist("1.0.0"));
        WriteBundle(mDirectory / "B.app", InfoPlist("2.0.1"));
        WriteBundle(mDirectory.Path() / "c" / "*x*" / "d.app", InfoPlist("3.1.4"));
        boost::filesystem::create_directories(mDirectory / "NoPlist.app");
    }

    std::string Expand(const std::string& text, const boost::filesystem::path& file) const
    {
        return replace_all(replace_all(text, "$FILE", file.string()), "$DIR",
                           mDirectory.Path().string());
    }

    ScopedEnvironment mNoLogConfig{"UPDATER_LOG", std::nullopt};
    TempDirectory mDirectory;
};

} // namespace

TEST_P(ScannerTableTest, LoadsDefinitionFile)
{
    const ScannerCase& c = GetParam();
    boost::filesystem::path file;
    switch (c.source)
    {
    case Source::EmptyPath:
        break;
    case Source::Missing:
        file = mDirectory / "missing.json";
        break;
    case Source::Unreachable:
        file = mDirectory / (std::string(300, 'n') + ".json");
        break;
    case Source::Directory:
        file = mDirectory / "definitions";
        boost::filesystem::create_directories(file);
        break;
    case Source::File:
        file = mDirectory / "scanner.json";
        WriteFile(file, Expand(c.definition, file));
        break;
    }

    ChannelCapture log("update_manager");
    const Scanner scanner(file);
    std::vector<std::string> expectedLog;
    for (const std::string& line : c.log)
        expectedLog.push_back(Expand(line, file));
    EXPECT_EQ(log.Lines(), expectedLog);

    EXPECT_EQ(scanner.IsInitialized(), c.initialized);
    for (const std::string& sku : c.defined)
        EXPECT_TRUE(scanner.HasDefinition(sku)) << sku;
    for (const char* sku : {"broken", "nameless", "other", "", "P"})
        EXPECT_FALSE(scanner.HasDefinition(sku)) << sku;

    EXPECT_EQ(scanner.Scan(), c.found);
    for (const std::string& sku : c.defined)
    {
        const auto found = c.found.find(sku);
        const auto expected = found == c.found.end() ? std::make_pair(std::string(), std::string())
                                                     : std::make_pair(sku, found->second);
        EXPECT_EQ(scanner.Scan(sku), expected) << sku;
    }
    EXPECT_EQ(scanner.Scan("never-defined"), std::make_pair(std::string(), std::string()));
}

INSTANTIATE_TEST_SUITE_P(Definitions, ScannerTableTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ScannerCase>& info)
                         { return std::string(info.param.name); });

TEST(ScannerTest, ScansLogWhatTheyFind)
{
    ScopedEnvironment noLogConfig("UPDATER_LOG", std::nullopt);
    TempDirectory directory;
    WriteBundle(directory / "A.app", InfoPlist("1.0.0"));
    const auto file = directory / "scanner.json";
    WriteFile(file, replace_all(R"({"scanner": [
        {"name": "A", "sku": "a", "rules": [{"file": "$DIR/A.app"}]},
        {"name": "B", "sku": "b", "rules": [{"file": "$DIR/B.app"}]}]})",
                                "$DIR", directory.Path().string()));
    const Scanner scanner(file);
    const std::string bundle = (directory / "A.app").string();

    {
        ChannelCapture log("update_manager");
        EXPECT_EQ(scanner.Scan("a"), std::make_pair(std::string("a"), std::string("1.0.0")));
        EXPECT_EQ(scanner.Scan("b"), std::make_pair(std::string(), std::string()));
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                                   "info: Searching for a",
                                   "debug: FileVersion: Found version 1.0.0 for item " + bundle,
                                   "info: Searching for Found a/1.0.0",
                                   "info: Searching for b",
                                   "debug: VersionFinderSet: Didn't find any version number.",
                                   "info: Searching for Found /",
                               }));
    }
    {
        ChannelCapture log("update_manager");
        EXPECT_EQ(scanner.Scan(), (std::map<std::string, std::string>{{"a", "1.0.0"}}));
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                                   "info: Complete Scan",
                                   "debug: FileVersion: Found version 1.0.0 for item " + bundle,
                                   "debug: VersionFinderSet: Didn't find any version number.",
                               }));
    }
}

TEST(ScannerTest, AddProductWithoutRulesCreatesAnEmptyEntry)
{
    ScopedEnvironment noLogConfig("UPDATER_LOG", std::nullopt);
    Scanner scanner("");
    EXPECT_FALSE(scanner.HasDefinition("p"));
    scanner.AddProduct("p", boost::property_tree::ptree());
    EXPECT_TRUE(scanner.HasDefinition("p"));
    EXPECT_EQ(scanner.Scan("p"), std::make_pair(std::string(), std::string()));
    EXPECT_TRUE(scanner.Scan().empty());
}
