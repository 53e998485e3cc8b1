#include "run/command_line.h"
#include "run/path_field.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "run/run_action.h"

#ifdef _WIN32
#include "run/wide_text.h"  // windows.h, which shellapi.h needs first
// clang-format off
#include <shellapi.h>
// clang-format on
#endif

namespace {

using lotrix::BuildCommandLine;

// Splits a command line the way Windows' own parser does for every argument but the first:
// 2n backslashes and a quote give n backslashes and toggle quoting; 2n+1 backslashes and a
// quote give n backslashes and a literal quote; other backslashes are literal.
std::vector<std::string> WindowsArguments(const std::string& line) {
  std::vector<std::string> arguments;
  std::string current;
  bool inQuotes = false;
  bool inArgument = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    std::size_t backslashes = 0;
    while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
    if (i < line.size() && line[i] == '"') {
      current.append(backslashes / 2, '\\');
      inArgument = true;
      if (backslashes % 2 == 1) {
        current += '"';
      } else if (inQuotes && i + 1 < line.size() && line[i + 1] == '"') {
        current += '"';
        ++i;
      } else {
        inQuotes = !inQuotes;
      }
      continue;
    }
    current.append(backslashes, '\\');
    inArgument = inArgument || backslashes > 0;
    if (i == line.size()) break;
    if ((line[i] == ' ' || line[i] == '\t') && !inQuotes) {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += line[i];
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

TEST(CommandLine, IsTheExactStringForOrdinaryPaths) {
  const std::string line = BuildCommandLine("C:\\Tools", "D:\\corpus\\lines.txt", 30);
  EXPECT_EQ(line, "\"C:\\Tools\\lotrix\"  \"D:\\corpus\\lines.txt\" 30");
  EXPECT_EQ(line.size(), 43u);

  EXPECT_EQ(BuildCommandLine("C:\\", "a b.txt", -5), "\"C:\\\\lotrix\"  \"a b.txt\" -5");
  EXPECT_EQ(BuildCommandLine("C:\\Tools", "", 0), "\"C:\\Tools\\lotrix\"  \"\" 0");
  EXPECT_EQ(BuildCommandLine("C:\\Tools", "x", -32768), "\"C:\\Tools\\lotrix\"  \"x\" -32768");
}

TEST(CommandLine, AwkwardPathsReadBackAsOneExactArgument) {
  const std::string paths[] = {
      "D:\\corpus\\",
      "D:\\corpus\\\\",
      "say \"hi\".txt",
      "a\\\"b",
      "\"",
      "\\",
      "trailing space ",
      "x\\\\\"\\\\y\\",
      "tab\there",
      "\"\" \"\"",
      "中文 目录\\行.txt",
  };
  for (const std::string& path : paths) {
    const std::string line = BuildCommandLine("C:\\Tools", path, 30);
    const auto arguments = WindowsArguments(line);
    ASSERT_EQ(arguments.size(), 3u) << line;
    EXPECT_EQ(arguments[1], path) << line;
    EXPECT_EQ(arguments[2], "30") << line;
  }
}

TEST(CommandLine, QuotingEscapesOnlyWhatItMust) {
  EXPECT_EQ(lotrix::QuoteArgument("D:\\dir\\"), "\"D:\\dir\\\\\"");
  EXPECT_EQ(lotrix::QuoteArgument("a\"b"), "\"a\\\"b\"");
  EXPECT_EQ(lotrix::QuoteArgument("a\\\\b"), "\"a\\\\b\"");
}

#ifdef _WIN32
TEST(CommandLine, WindowsOwnParserReadsItBack) {
  const std::string paths[] = {
      "D:\\corpus\\lines.txt",        "D:\\corpus v2\\", "a \"quoted\" name", "x\\\"y", "",
      "\xe4\xb8\xad\xe6\x96\x87 \\\\"};
  for (const std::string& path : paths) {
    int count = 0;
    LPWSTR* arguments =
        CommandLineToArgvW(lotrix::Widen(BuildCommandLine("C:\\", path, -5)).c_str(), &count);
    ASSERT_EQ(count, 3) << path;
    EXPECT_EQ(lotrix::Narrow(arguments[0]), "C:\\\\lotrix");
    EXPECT_EQ(lotrix::Narrow(arguments[1]), path);
    EXPECT_EQ(lotrix::Narrow(arguments[2]), "-5");
    LocalFree(arguments);
  }
}
#endif

TEST(ArgumentVector, CarriesThePathUntouched) {
  const std::string path = "two  spaces \"q\" $HOME\nnew line \xc3\xa9.txt";
  const auto argv = lotrix::BuildArgumentVector("/opt/lotrix", path, -7);
  ASSERT_EQ(argv.size(), 3u);
#ifndef _WIN32
  EXPECT_EQ(argv[0], "/opt/lotrix/lotrix");
#endif
  EXPECT_EQ(argv[1], path);
  EXPECT_EQ(argv[2], "-7");
}

TEST(PathField, AnExistingNameWinsOverItsTidiedReadings) {
  const std::set<std::string> files = {" odd name ", "odd name", "'quoted'",       "quoted",
                                       "hits.txt ",  "hits.txt", "/home/anaana/x", "/home/ana/x"};
  struct Case {
    std::string field, path;
  } const cases[] = {
      {" odd name ", " odd name "},
      {"'quoted'", "'quoted'"},
      {"hits.txt \n", "hits.txt "},  // only the line break was the slip
#ifndef _WIN32
      {"~ana/x", "~ana/x"},  // another user's home is not ours
      {"~x", "~x"},
#endif
      // No name holds a NUL; the system would look only as far as it, at another file.
      {std::string("hits.txt\0junk", 13), std::string("hits.txt\0junk", 13)},
      {"file:///home/ana/x%00.csv", "file:///home/ana/x%00.csv"},
  };
  const auto exists = [&](const std::string& path) {
    return path.find('\0') == std::string::npos && files.contains(path);
  };
  for (const auto& [field, path] : cases) {
    EXPECT_EQ(lotrix::PathFromField(field, exists, "/home/ana"), path) << field;
  }
  EXPECT_FALSE(lotrix::PathExists(std::string("/\0", 2)));
}

TEST(PathField, SlipsOfTypingPastingAndDroppingAreReadAsTheFileMeant) {
  // The files that exist; each case's field text, and the path it means here.
#ifdef _WIN32
  const std::set<std::string> files = {"C:\\corpus v2\\hits.txt", " odd name ", "C:\\a b\\h.txt"};
#else
  const std::set<std::string> files = {"/corpus v2/hits.txt", " odd name ", "/home/ana/hits.txt",
                                       "/a b/h.txt", "'quoted'"};
#endif
  struct Case {
    std::string field, path;
  };
  const std::vector<Case> cases = {
#ifdef _WIN32
      {"\"C:\\corpus v2\\hits.txt\"", "C:\\corpus v2\\hits.txt"},
      {"  C:\\corpus v2\\hits.txt\r\n", "C:\\corpus v2\\hits.txt"},
      {"'C:\\corpus v2\\hits.txt'", "C:\\corpus v2\\hits.txt"},
      {"file:///C:/a%20b/h.txt", "C:\\a b\\h.txt"},
      {"~/hits.txt", "~/hits.txt"},
      // Nothing exists: as typed, but for the quotes no Windows name can hold.
      {"\"C:\\missing.txt\"", "C:\\missing.txt"},
#else
      {"\"/corpus v2/hits.txt\"", "/corpus v2/hits.txt"},
      {"/corpus v2/hits.txt\n", "/corpus v2/hits.txt"},
      {" \t'/corpus v2/hits.txt'\r\n", "/corpus v2/hits.txt"},
      {"\"/corpus v2/hits.txt\n\"", "/corpus v2/hits.txt"},
      {"file:///a%20b/h.txt", "/a b/h.txt"},
      {"FILE://localhost/a%20b/h.txt\n", "/a b/h.txt"},
      {"~/hits.txt", "/home/ana/hits.txt"},
      {"'quoted'", "'quoted'"},  // the name itself, quotes and all
      {"file://server/a%20b/h.txt", "file://server/a%20b/h.txt"},
      // Nothing exists: as typed, for the sampler to say what is missing.
      {"\"/missing.txt\"", "\"/missing.txt\""},
      {"/missing.txt\n", "/missing.txt\n"},
#endif
      {" odd name ", " odd name "},  // an existing name is never trimmed
      {"", ""},
  };
  const auto exists = [&](const std::string& path) { return files.contains(path); };
  for (const auto& [field, path] : cases) {
    EXPECT_EQ(lotrix::PathFromField(field, exists, "/home/ana"), path) << field;
  }
}

}  // namespace
