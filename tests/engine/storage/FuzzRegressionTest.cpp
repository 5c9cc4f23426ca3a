// Replays, through the fuzz targets' own harness, every input with which a
// fuzz target found a fault (fuzz-regressions/<target>/<input>, one test
// each), and the seed corpus made from real tables. An input must end in
// success or an engine error; the sanitizer build turns memory faults into
// failures. Inputs of faults found but not mended yet wait under
// fuzz-regressions/unmended/<target>/ and move up once the fault is mended.
//
// Each found input runs in a child process, so that a crash fails its test
// rather than the whole run, and so that the memory the run takes can be
// measured: a damaged file must not make the engine allocate without bound,
// and a run that does so would otherwise merely be slow.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/storage/Formats.h"
#include "engine/storage/FuzzHarness.h"
#include "engine/storage/Scramble.h"

namespace tessel::fuzz {
namespace {

namespace fs = std::filesystem;

using TRunner = TRunOutcome (*)(const uint8_t*, size_t);

struct TTarget {
  const char* Name;
  TRunner Run;
};
constexpr TTarget kTargets[] = {
    {"fuzz_open_table", RunOpenTable},
    {"fuzz_index_page", RunIndexPages},
    {"fuzz_blob_chain", RunBlobChains},
    {"fuzz_scrambled", RunScrambledTable},
};

fs::path TestDir() { return fs::path(__FILE__).parent_path(); }
fs::path RegressionDir() { return TestDir() / "fuzz-regressions"; }
fs::path CorpusDir() { return TestDir() / ".." / ".." / ".." / "fuzz" / "corpus"; }

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TRunner RunnerFor(const std::string& target) {
  for (const TTarget& t : kTargets)
    if (target == t.Name) return t.Run;
  return nullptr;
}

struct TInput {
  std::string Target;
  fs::path Path;
};

void PrintTo(const TInput& input, std::ostream* os) { *os << input.Path.filename().string(); }

std::vector<TInput> InputsUnder(const fs::path& root) {
  std::vector<TInput> inputs;
  std::error_code error;
  for (const TTarget& t : kTargets) {
    const fs::path dir = root / t.Name;
    if (!fs::is_directory(dir, error)) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, error))
      if (e.is_regular_file()) inputs.push_back({t.Name, e.path()});
  }
  std::sort(inputs.begin(), inputs.end(), [](const TInput& a, const TInput& b) { return a.Path < b.Path; });
  return inputs;
}

std::string TestName(const ::testing::TestParamInfo<TInput>& info) {
  std::string name = info.param.Target + "_" + info.param.Path.filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// ---------------------------------------------------------------------------
// Inputs that found faults

class FuzzRegression : public ::testing::TestWithParam<TInput> {};

// The most a run may add to the process's resident memory. The harness's
// own images and reads stay far below it.
constexpr int64_t kMaxRunGrowth = int64_t{512} << 20;

// The process's resident memory now.
int64_t ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return int64_t{resident} * ::sysconf(_SC_PAGESIZE);
}

TEST_P(FuzzRegression, EndsInSuccessOrAnEngineErrorWithinBoundedMemory) {
  const TInput& input = GetParam();
  const std::vector<uint8_t> bytes = ReadBytes(input.Path);
  const TRunner run = RunnerFor(input.Target);
  ASSERT_NE(run, nullptr);
  const int64_t before = ResidentBytes();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int code = 0;
    try {
      run(bytes.data(), bytes.size());
    } catch (const TFuzzFinding& f) {
      std::fprintf(stderr, "%s: %s\n", input.Path.c_str(), f.what());
      code = 3;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: escaped: %s\n", input.Path.c_str(), e.what());
      code = 4;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  int status = 0;
  struct rusage usage {};
  ASSERT_EQ(::wait4(pid, &status, 0, &usage), pid);
  ASSERT_TRUE(WIFEXITED(status)) << input.Path << ": ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << input.Path << ": a finding (see above)";
  const int64_t peak = int64_t{usage.ru_maxrss} * 1024;
  EXPECT_LT(peak - before, kMaxRunGrowth) << input.Path << ": the run grew to " << (peak >> 20) << " MiB";
}

INSTANTIATE_TEST_SUITE_P(Found, FuzzRegression, ::testing::ValuesIn(InputsUnder(RegressionDir())), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzRegression);

// ---------------------------------------------------------------------------
// The seed corpus: real tables open, and their structure check finds nothing

class FuzzSeed : public ::testing::TestWithParam<TInput> {};

TEST_P(FuzzSeed, OpensAndChecksClean) {
  const TInput& input = GetParam();
  const std::vector<uint8_t> bytes = ReadBytes(input.Path);
  const TRunOutcome outcome = RunnerFor(input.Target)(bytes.data(), bytes.size());
  EXPECT_EQ(outcome.VerifyFindings, 0) << input.Path;
  if (input.Target == "fuzz_index_page") return;
  EXPECT_TRUE(outcome.Opened) << input.Path << " error " << outcome.FirstError;
  EXPECT_GT(outcome.RecordsRead, 0) << input.Path;
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzSeed, ::testing::ValuesIn(InputsUnder(CorpusDir())), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzSeed);

// ---------------------------------------------------------------------------
// The framing the corpus and the found inputs are written in

TEST(FuzzFraming, ZeroRunsCodeEachZeroRunAsZeroAndCount) {
  const std::vector<uint8_t> image = {7, 0, 0, 0, 9, 0};
  EXPECT_EQ(PackZeroRuns(image), (std::vector<uint8_t>{7, 0, 2, 9, 0, 0}));
  const std::vector<uint8_t> long_run(300, 0);
  EXPECT_EQ(PackZeroRuns(long_run), (std::vector<uint8_t>{0, 255, 0, 43}));
  // {0, 0}: one zero.
  EXPECT_EQ(UnpackZeroRuns(long_run.data(), 2), std::vector<uint8_t>(1, 0));
  const std::vector<uint8_t> packed = PackZeroRuns(long_run);
  EXPECT_EQ(UnpackZeroRuns(packed.data(), packed.size()), long_run);
  // A final 0 without its count stands for one zero; the limit cuts.
  const std::vector<uint8_t> tail = {5, 0};
  EXPECT_EQ(UnpackZeroRuns(tail.data(), tail.size()), (std::vector<uint8_t>{5, 0}));
  EXPECT_EQ(UnpackZeroRuns(packed.data(), packed.size(), 10).size(), 10u);
}

TEST(FuzzFraming, TableSectionsAreLengthPrefixedAndCutToTheInput) {
  TTableImages images;
  images.Options = kOptWrites;
  images.Data = {1, 2, 3};
  images.Index = {0, 0};
  images.Blob = {4};
  const std::vector<uint8_t> framed = FrameTable(images);
  EXPECT_EQ(framed, (std::vector<uint8_t>{kOptWrites, 3, 0, 0, 0, 1, 2, 3, 2, 0, 0, 0, 0, 1, 1, 0, 0, 0, 4}));
  const TTableImages back = UnframeTable(framed.data(), framed.size());
  EXPECT_EQ(back.Options, kOptWrites);
  EXPECT_EQ(back.Data, images.Data);
  EXPECT_EQ(back.Index, images.Index);
  EXPECT_EQ(back.Blob, images.Blob);
  // A length beyond the input takes what is there; missing sections are empty.
  const std::vector<uint8_t> cut = {0, 200, 0, 0, 0, 8, 9};
  const TTableImages short_ = UnframeTable(cut.data(), cut.size());
  EXPECT_EQ(short_.Data, (std::vector<uint8_t>{8, 9}));
  EXPECT_TRUE(short_.Index.empty());
  EXPECT_TRUE(short_.Blob.empty());
}

TEST(FuzzFraming, ScramblingFollowsTheUnitsOfTheHeaderAndUndoesItself) {
  // Two fields of 768 bytes, records of 12 bytes, 64-byte blocks.
  TTableImages images;
  images.Data.assign(kDataHeaderSize + 2 * kFieldDescSize + 2 * 12, 0);
  TDataHeader header;
  header.FieldCount = 2;
  header.RecordSize = 12;
  header.BlobBlockSize = 64;
  header.Encode(images.Data.data());
  images.Index.assign(2 * kPageSize, 0);
  images.Blob.assign(kBlobHeaderSize + 2 * 64, 0);
  TTableImages scrambled = images;
  ScrambleTableImages(scrambled);

  // Over zeros, every unit becomes the key stream from its start; the data
  // header stays plain.
  auto stream = [](size_t n) {
    std::vector<uint8_t> bytes(n, 0);
    ScrambleData(bytes.data(), n);
    return bytes;
  };
  auto unit = [](const std::vector<uint8_t>& image, size_t at, size_t n) {
    return std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(at),
                                image.begin() + static_cast<std::ptrdiff_t>(at + n));
  };
  EXPECT_EQ(unit(scrambled.Data, 0, kDataHeaderSize), unit(images.Data, 0, kDataHeaderSize));
  EXPECT_EQ(unit(scrambled.Data, kDataHeaderSize, 2 * kFieldDescSize), stream(2 * kFieldDescSize));
  for (size_t slot = 0; slot < 2; ++slot)
    EXPECT_EQ(unit(scrambled.Data, kDataHeaderSize + 2 * kFieldDescSize + 12 * slot, 12), stream(12)) << slot;
  EXPECT_EQ(unit(scrambled.Index, 0, kPageSize), stream(kPageSize));
  EXPECT_EQ(unit(scrambled.Index, kPageSize, kPageSize), stream(kPageSize));
  EXPECT_EQ(unit(scrambled.Blob, 0, kBlobHeaderSize), stream(kBlobHeaderSize));
  for (size_t block : {size_t{512}, size_t{576}}) {
    EXPECT_EQ(unit(scrambled.Blob, block, 18), stream(18)) << block;
    EXPECT_EQ(unit(scrambled.Blob, block + 18, 46), stream(46)) << block;
  }

  ScrambleTableImages(scrambled);
  EXPECT_EQ(scrambled.Data, images.Data);
  EXPECT_EQ(scrambled.Index, images.Index);
  EXPECT_EQ(scrambled.Blob, images.Blob);
}

}  // namespace
}  // namespace tessel::fuzz
