// The command line, word for word, against the request it makes or the mistake it is.
#include "arguments.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// A request in few words: its inputs, its size, and each option that is not the default.
std::string Describe(const lotrix::Arguments& arguments) {
  using Action = lotrix::Arguments::Action;
  if (arguments.action == Action::kHelp) return "help";
  if (arguments.action == Action::kVersion) return "version";
  std::string text;
  for (const std::string& input : arguments.inputs) text += "[" + input + "] ";
  const lotrix::SampleSize& size = arguments.size;
  switch (size.kind) {
    case lotrix::SampleSize::Kind::kCount:
      text += "N=" + std::to_string(size.count);
      break;
    case lotrix::SampleSize::Kind::kShare:
      text += "share=" + std::to_string(size.share);
      break;
    case lotrix::SampleSize::Kind::kProbability:
      text += "p=" + std::to_string(size.probability);
      break;
  }
  if (!arguments.output.empty()) text += " -o [" + arguments.output + "]";
  if (arguments.seed) text += " seed=" + std::to_string(*arguments.seed);
  if (arguments.header) text += " header=" + std::to_string(arguments.header);
  if (arguments.each) text += " each";
  if (arguments.withName) text += " with-name";
  if (arguments.shuffle) text += " shuffle";
  if (arguments.replace) text += " replace";
  return text;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; stream >> word;) words.push_back(word == "''" ? "" : word);
  return words;
}

TEST(Arguments, MakeTheirRequestOrSayWhatIsWrong) {
  const std::string several =
      "needs an input file and a sample size; several inputs take the "
      "size as -n N before them";
  const std::string noSize = "--prob keeps each line by chance; it takes no sample size";
  const struct {
    const char* words;
    std::string expected;  // Describe()'s, or "! " and the message
  } kRows[] = {
      {"a.txt 30", "[a.txt] N=30"},
      {"30 a.txt",
       "! a.txt: the sample size must be a whole number of 0 or more; the input "
       "file comes first, then the size"},
      {"a.txt -5", "! -5: the sample size must be a whole number of 0 or more"},
      {"-o -5 a.txt 3 --seed=+7", "[a.txt] N=3 -o [-5] seed=7"},
      {"a.txt", "! needs an input file and a sample size"},
      {"a.txt b.txt 3", "! " + several},
      {"-n 3", "! needs an input file and a sample size"},
      {"-n 3 ''", "! no input file was named"},
      {"-n 5 a.txt b.txt -", "[a.txt] [b.txt] [-] N=5"},
      {"-n5 -- -x.txt", "[-x.txt] N=5"},
      // Shares: exact to six decimals, at most 100% but with replacement.
      {"a.txt 10%", "[a.txt] share=10000000"},
      {"-n 2.5% a.txt", "[a.txt] share=2500000"},
      {"a.txt 0.000001%", "[a.txt] share=1"},
      {"a.txt 100%", "[a.txt] share=100000000"},
      {"a.txt 100.000001%", "! 100.000001%: a share can be at most 100%"},
      {"--replace a.txt 250%", "[a.txt] share=250000000 replace"},
      {"a.txt 1.1234567%",
       "! 1.1234567%: a share must be a number of at most six decimals "
       "before the %, as 2.5%"},
      {"a.txt .5%",
       "! .5%: a share must be a number of at most six decimals before the %, as "
       "2.5%"},
      {"a.txt 5.%",
       "! 5.%: a share must be a number of at most six decimals before the %, as "
       "2.5%"},
      {"a.txt -5%",
       "! -5%: a share must be a number of at most six decimals before the %, as "
       "2.5%"},
      // Probabilities, from 0 to 1, with inputs only.
      {"--prob 0.25 a.txt b.txt", "[a.txt] [b.txt] p=0.250000"},
      {"--prob 1 a.txt", "[a.txt] p=1.000000"},
      {"--prob 1.5 a.txt", "! 1.5: the probability must be a number from 0 to 1, as 0.05"},
      {"--prob -0.1 a.txt", "! -0.1: the probability must be a number from 0 to 1, as 0.05"},
      {"--prob 1e-3 a.txt", "! 1e-3: the probability must be a number from 0 to 1, as 0.05"},
      {"--prob 0.1 a.txt 30", "! " + noSize},
      {"--prob 0.1 -n 3 a.txt", "! " + noSize},
      {"--prob 0.1 --replace a.txt",
       "! --replace draws N lines; --prob keeps each line by chance, and takes neither"},
      // The other options.
      {"--each -n 3 a.txt b.txt", "[a.txt] [b.txt] N=3 each"},
      {"--each -o x -n 3 a.txt", "! --each writes each sample beside its input; it takes no -o"},
      {"--header a.txt 3", "[a.txt] N=3 header=1"},
      {"--header=4 a.txt 3", "[a.txt] N=3 header=4"},
      {"--header 4 a.txt 3", "! " + several},
      {"--header=x a.txt 3", "! x: the header's length must be a whole number of lines"},
      {"--with-name --shuffle -n 2 a.txt", "[a.txt] N=2 with-name shuffle"},
      {"--seed -5 a.txt 3", "! -5: the seed must be a whole number"},
      {"--bogus a.txt 3", "! unrecognized option '--bogus'"},
      {"a.txt 3 --help", "help"},
      {"--version", "version"},
  };
  for (const auto& row : kRows) {
    const auto arguments = lotrix::ParseArguments(Words(row.words));
    const std::string got = arguments ? Describe(*arguments) : "! " + arguments.error().reason;
    EXPECT_EQ(got, row.expected) << "lotrix " << row.words;
  }
}

TEST(SampleSize, AShareRoundsToTheNearestLineAHalfUp) {
  lotrix::SampleSize share;
  share.kind = lotrix::SampleSize::Kind::kShare;
  const struct {
    std::uint64_t parts, lines, expected;
  } kRows[] = {{10'000'000, 1005, 101},
               {10'000'000, 1004, 100},
               {1, 49'999'999, 0},
               {1, 50'000'000, 1},
               {100'000'000, UINT64_MAX, UINT64_MAX},
               {33'333'333, 3, 1},
               {250'000'000, 4, 10},
               {0, 1000, 0}};
  for (const auto& row : kRows) {
    share.share = row.parts;
    EXPECT_EQ(share.Of(row.lines), row.expected) << row.parts << " of " << row.lines;
  }
}

}  // namespace
