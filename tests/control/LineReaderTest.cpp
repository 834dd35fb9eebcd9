#include "control/LineReader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "CommandInput.hpp"
#include "PosixDescriptors.hpp"

namespace mirevo::control {
namespace {

// Every event the reader reports until the end of input, as text: the line
// itself, "<too long>" or "<error: ...>".
std::vector<std::string> readAll(LineReader& reader) {
  std::vector<std::string> seen;
  for (;;) {
    const auto result = reader.next();
    switch (result.outcome) {
      case LineReader::Outcome::line:
        seen.emplace_back(result.text);
        break;
      case LineReader::Outcome::lineTooLong:
        seen.emplace_back("<too long>");
        break;
      case LineReader::Outcome::readError:
        seen.push_back("<error: " + std::string(result.text) + ">");
        return seen;
      case LineReader::Outcome::endOfInput:
        return seen;
    }
  }
}

std::vector<std::string> linesOf(std::string_view input, std::size_t readBytes,
                                 std::size_t maxLineBytes = LineReader::kMaxLineBytes) {
  const testing::CommandInput file(input);
  LineReader reader(file.fd(), maxLineBytes, readBytes);
  return readAll(reader);
}

struct FramingCase {
  std::string name;
  std::string input;
  std::vector<std::string> lines;
};

const FramingCase kFramingCases[] = {
    {"LineFeeds", "a\nb\n", {"a", "b"}},
    {"CarriageReturns", "a\rb\r", {"a", "b"}},
    {"CrLfIsOneEnd", "a\r\nb\r\n", {"a", "b"}},
    {"MixedEnds", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
    {"BlankLinesSkipped", "\n\na\n\n\nb\n\n", {"a", "b"}},
    {"CrCrHoldsABlankLine", "a\r\rb", {"a", "b"}},
    {"LfCrHoldsABlankLine", "a\n\rb", {"a", "b"}},
    {"LfCrLf", "a\n\r\nb", {"a", "b"}},
    {"LeadingCrLfs", "\r\n\r\na", {"a"}},
    {"UnterminatedLastLine", "a\nlast", {"a", "last"}},
    {"OnlyALine", "abc", {"abc"}},
    {"Empty", "", {}},
    {"OnlyTerminators", "\n\r\n\r", {}},
    {"SpacesAreNotBlank", "  \n\t\n", {"  ", "\t"}},
    {"NulKept", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
    {"BytesUntouched", "caf\xC3\xA9\xFF\n", {"caf\xC3\xA9\xFF"}},
};

// Every case is read whole and in pieces down to one byte, so each line end
// and each CR LF pair also falls across two reads.
class FramingTest : public ::testing::TestWithParam<std::tuple<FramingCase, std::size_t>> {};

TEST_P(FramingTest, CutsLines) {
  const auto& [framing, readBytes] = GetParam();
  EXPECT_EQ(linesOf(framing.input, readBytes), framing.lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, FramingTest,
                         ::testing::Combine(::testing::ValuesIn(kFramingCases),
                                            ::testing::Values(1, 2, 3, 5, LineReader::kReadBytes)),
                         [](const auto& info) {
                           return std::get<0>(info.param).name + "_Read" +
                                  std::to_string(std::get<1>(info.param));
                         });

// A CR that ends a read ends the line at once: the reader must not wait for
// the next byte, and the LF that follows later is not a second line end.
TEST(LineReaderTest, CarriageReturnAtEndOfReadEndsLineWithoutWaiting) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  LineReader reader(fds[0]);

  ASSERT_EQ(::write(fds[1], "first\r", 6), 6);
  auto result = reader.next();
  EXPECT_EQ(result.outcome, LineReader::Outcome::line);
  EXPECT_EQ(result.text, "first");

  ASSERT_EQ(::write(fds[1], "\nsecond\n", 8), 8);
  result = reader.next();
  EXPECT_EQ(result.outcome, LineReader::Outcome::line);
  EXPECT_EQ(result.text, "second");

  ::close(fds[1]);
  EXPECT_EQ(reader.next().outcome, LineReader::Outcome::endOfInput);
  EXPECT_EQ(reader.next().outcome, LineReader::Outcome::endOfInput);
  ::close(fds[0]);
}

// A parent may give the agent a non-blocking pipe: an empty one is waited on,
// not taken for a read error.
TEST(LineReaderTest, WaitsOnANonBlockingInput) {
  int fds[2];
  ASSERT_TRUE(mirevo::testing::makePipe(fds, /*nonBlocking=*/true));
  ASSERT_EQ(::write(fds[1], "par", 3), 3);
  std::thread writer([&] {
    EXPECT_EQ(::write(fds[1], "tial\nnext\n", 10), 10);
    ::close(fds[1]);
  });
  LineReader reader(fds[0]);
  EXPECT_EQ(readAll(reader), (std::vector<std::string>{"partial", "next"}));
  writer.join();
  ::close(fds[0]);
}

struct BoundCase {
  std::string name;
  std::string input;
  std::vector<std::string> seen;
};

// With a limit of 8 bytes.
const BoundCase kBoundCases[] = {
    {"AtTheLimit", "12345678\nnext\n", {"12345678", "next"}},
    {"OneOver", "123456789\nnext\n", {"<too long>", "next"}},
    {"FarOver", std::string(100, 'x') + "\rnext", {"<too long>", "next"}},
    {"OverWithCrLf", "123456789\r\nnext", {"<too long>", "next"}},
    {"OverAtEndOfInput", "ok\n123456789", {"ok", "<too long>"}},
    {"TwoOversized", "123456789\n987654321\nok\n", {"<too long>", "<too long>", "ok"}},
};

class LineBoundTest : public ::testing::TestWithParam<std::tuple<BoundCase, std::size_t>> {};

TEST_P(LineBoundTest, ReportsAnOversizedLineOnceAndDropsItsRest) {
  const auto& [bound, readBytes] = GetParam();
  EXPECT_EQ(linesOf(bound.input, readBytes, 8), bound.seen);
}

INSTANTIATE_TEST_SUITE_P(Cases, LineBoundTest,
                         ::testing::Combine(::testing::ValuesIn(kBoundCases),
                                            ::testing::Values(1, 3, 4, LineReader::kReadBytes)),
                         [](const auto& info) {
                           return std::get<0>(info.param).name + "_Read" +
                                  std::to_string(std::get<1>(info.param));
                         });

// A sender that never ends its line gets its answer as soon as the limit is
// passed, not only at the line's end.
TEST(LineReaderTest, ReportsAnOversizedLineBeforeItEnds) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  LineReader reader(fds[0], 8);
  ASSERT_EQ(::write(fds[1], "123456789", 9), 9);
  EXPECT_EQ(reader.next().outcome, LineReader::Outcome::lineTooLong);
  ASSERT_EQ(::write(fds[1], "more\nok\n", 8), 8);
  const auto result = reader.next();
  EXPECT_EQ(result.outcome, LineReader::Outcome::line);
  EXPECT_EQ(result.text, "ok");
  ::close(fds[1]);
  ::close(fds[0]);
}

TEST(LineReaderTest, ReportsAReadErrorAndDoesNotReadAgain) {
  const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  LineReader reader(fd);
  auto result = reader.next();
  EXPECT_EQ(result.outcome, LineReader::Outcome::readError);
  EXPECT_EQ(result.text, "The standard input could not be read: Is a directory.");
  ::close(fd);  // a further read would now fail differently
  result = reader.next();
  EXPECT_EQ(result.outcome, LineReader::Outcome::readError);
  EXPECT_EQ(result.text, "The standard input could not be read: Is a directory.");
}

}  // namespace
}  // namespace mirevo::control
