// The report pipe between the sampler and the window, both ends: what the sampler's Report
// writes, the window's ToolReportReader reads back, whatever the bytes of the path and however
// the pipe cuts them up.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "fake_tool.h"
#include "report.h"
#include "run/tool_report.h"

namespace {

// A pipe whose write end LOTRIX_REPORT names while it lives.
class ReportPipe {
 public:
  ReportPipe() {
#ifdef _WIN32
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    CreatePipe(&read_, &write_, &attributes, 1 << 20);
    fake::SetOrClear("LOTRIX_REPORT", std::to_string(reinterpret_cast<std::uintptr_t>(write_)));
#else
    int ends[2];
    if (pipe(ends) != 0) ADD_FAILURE() << "no pipe";
    // Room for what a writer that sends too much would send, so that a test counts it rather
    // than waits on a full pipe.
    fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    read_ = ends[0];
    fake::SetOrClear("LOTRIX_REPORT", std::to_string(ends[1]));
#endif
  }
  ~ReportPipe() {
    fake::SetOrClear("LOTRIX_REPORT", "");
#ifdef _WIN32
    CloseHandle(read_);
#else
    close(read_);
#endif
  }

  // Everything written, once the writer (which owns the write end) has closed it.
  std::string ReadAll() {
    std::string all;
    char buffer[4096];
#ifdef _WIN32
    DWORD got = 0;
    while (ReadFile(read_, buffer, sizeof buffer, &got, nullptr) && got > 0)
      all.append(buffer, got);
#else
    for (ssize_t got; (got = read(read_, buffer, sizeof buffer)) > 0;) {
      all.append(buffer, static_cast<std::size_t>(got));
    }
#endif
    return all;
  }

 private:
#ifdef _WIN32
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
#else
  int read_ = -1;
#endif
};

TEST(Report, WhatTheSamplerSaysTheWindowReadsBack) {
  std::mt19937_64 random(11);
  for (int trial = 0; trial < 200; ++trial) {
    // Any bytes but NUL, which no path holds; often the ones that must be escaped. Windows
    // paths are UTF-8 here, and the system tidies separators, dots and trailing spaces.
#ifdef _WIN32
    std::string path = "C:\\";
    const std::vector<std::string> others = {"\xc3\xa9", "\xe8\xaa\x9e", "\xf0\x9f\x98\x80", "x"};
#else
    std::string path = "/";
    std::vector<std::string> others;
    for (int byte = 1; byte < 256; ++byte) others.emplace_back(1, static_cast<char>(byte));
#endif
    const auto length = std::uniform_int_distribution<int>(1, trial % 10 == 0 ? 9000 : 60)(random);
    for (int i = 0; i < length; ++i) {
      const auto kind = std::uniform_int_distribution<int>(0, 3)(random);
      if (kind == 0) {
        path += "%\n\r\x7f\x1b"[std::uniform_int_distribution<int>(0, 4)(random)];
      } else if (kind == 1) {
        path += others[std::uniform_int_distribution<std::size_t>(0, others.size() - 1)(random)];
      } else {
        path += static_cast<char>(std::uniform_int_distribution<int>('a', 'z')(random));
      }
    }
    path += 'z';  // not a space or a dot, which Windows would drop
    const std::uint64_t seed = random();
    std::string sent;
    {
      ReportPipe pipe;
      {
        lotrix::Report report = lotrix::Report::FromEnvironment();
        ASSERT_TRUE(report.Open());
        report.Seed(seed);
        report.Progress(10, 1000);
        report.Progress(11, 1000);  // too soon after the last to be worth a record
        report.Progress(1000, 1000);
        report.Lines(500, 30);
        report.Sample(path);
      }
      sent = pipe.ReadAll();
    }
    // Fed in pieces of every size, as a pipe may hand them over.
    lotrix::ToolReportReader reader;
    for (std::size_t at = 0; at < sent.size();) {
      const auto piece = std::uniform_int_distribution<std::size_t>(1, 50)(random);
      reader.Feed(std::string_view(sent).substr(at, piece));
      at += piece;
    }
    const lotrix::ToolReport& got = reader.Report();
    ASSERT_EQ(got.sample, path) << "trial " << trial;
    EXPECT_EQ(got.seed, seed);
    EXPECT_EQ(got.done, 1000u);
    EXPECT_EQ(got.total, 1000u);
    EXPECT_EQ(got.lines, 500u);
    EXPECT_EQ(got.written, 30u);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), 5) << "one record a line";
  }
}

TEST(Report, OnlyAPipeOfItsOwnIsWrittenTo) {
  // Standard output may be the sample; a file named by mistake is not ours to write in.
  for (const std::string value : {"1", "2", "0", "-1", "abc", "3x", "", "99999"}) {
    fake::SetOrClear("LOTRIX_REPORT", value);
    EXPECT_FALSE(lotrix::Report::FromEnvironment().Open()) << value;
  }
  fake::TempDir dir;
#ifndef _WIN32
  const int file = open((dir / "file").c_str(), O_WRONLY | O_CREAT, 0600);
  fake::SetOrClear("LOTRIX_REPORT", std::to_string(file));
  EXPECT_FALSE(lotrix::Report::FromEnvironment().Open());
  close(file);
#endif
  fake::SetOrClear("LOTRIX_REPORT", "");
}

TEST(Report, AnOverlongLineIsSkippedAndTheNextRecordRead) {
  lotrix::ToolReportReader reader;
  reader.Feed("sample /" + std::string(lotrix::ToolReportReader::kLongestRecord, 'x'));
  reader.Feed("still the same line\nseed 7\n");
  EXPECT_EQ(reader.Report().sample, "");
  EXPECT_EQ(reader.Report().seed, 7u);
}

TEST(Report, AValueMayEndInAnEscapedByteAndAStreamIsToldSparingly) {
  // Paths whose last byte is sent as %XX come back whole.
#ifdef _WIN32
  const std::string root = "C:\\";
#else
  const std::string root = "/";
#endif
  for (const std::string name : {"a%", "a\n", "a\x7f", "%", "a%41"}) {
    std::string sent;
    {
      ReportPipe pipe;
      lotrix::Report::FromEnvironment().Sample(root + name);
      sent = pipe.ReadAll();
    }
    lotrix::ToolReportReader reader;
    reader.Feed(sent);
    EXPECT_EQ(reader.Report().sample, root + name) << name;
  }
  // Records for a read in steps of `step` up to `bytes`, and the most allowed.
  struct Case {
    std::uint64_t total, bytes, step, most;
  } const cases[] = {
      {1000, 1000, 1, 101},                         // a file: a record a hundredth
      {0, std::uint64_t{5} << 30, 256 << 10, 321},  // a 5 GiB stream: one each 16 MiB
  };
  for (const auto& [total, bytes, step, most] : cases) {
    std::string sent;
    {
      ReportPipe pipe;
      {
        lotrix::Report report = lotrix::Report::FromEnvironment();
        for (std::uint64_t done = step; done <= bytes; done += step) report.Progress(done, total);
      }
      sent = pipe.ReadAll();
    }
    const auto records = std::count(sent.begin(), sent.end(), '\n');
    EXPECT_GE(records, 1) << total;
    EXPECT_LE(records, static_cast<long>(most)) << total;
  }
}

}  // namespace
