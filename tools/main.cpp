// mirevo-inspect: checks an event stream of mirevo-capture and reports on it.
//
//   mirevo-inspect [--wav FOLDER] [--svg FILE] [STREAM]
//
// STREAM is a file of JSON lines, or standard input when it is missing or
// "-". Exit status: 0 when the stream keeps the protocol, 1 when it breaks it
// (the report names each line), 2 when the tool itself could not do its work.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "Inspector.hpp"
#include "Report.hpp"
#include "SvgPicture.hpp"

namespace {

struct Options {
  std::optional<std::filesystem::path> wavFolder;
  std::optional<std::filesystem::path> svgFile;
  std::string input = "-";
};

constexpr std::string_view kUsage =
    "usage: mirevo-inspect [--wav FOLDER] [--svg FILE] [STREAM]\n"
    "  Checks an event stream of mirevo-capture (JSON lines; standard input when\n"
    "  STREAM is missing or -) and reports each recording and source.\n"
    "  --wav FOLDER  writes recording<N>-<source>.wav files there\n"
    "  --svg FILE    writes a picture of the waveforms, chunk timelines and lag\n";

std::optional<Options> parseArguments(int argc, char** argv) {
  Options options;
  bool haveInput = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--wav" && hasValue) {
      options.wavFolder = argv[++i];
    } else if (argument == "--svg" && hasValue) {
      options.svgFile = argv[++i];
    } else if ((argument == "-" || !argument.starts_with("-")) && !haveInput) {
      options.input = argument;
      haveInput = true;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

int inspect(const Options& options) {
  using mirevo::inspect::Inspector;
  if (options.wavFolder) std::filesystem::create_directories(*options.wavFolder);
  Inspector inspector(options.wavFolder);
  if (options.input == "-") {
    inspector.read(std::cin);
  } else {
    std::ifstream file(options.input, std::ios::binary);
    if (!file) {
      std::cerr << "mirevo-inspect: cannot read " << options.input << '\n';
      return 2;
    }
    inspector.read(file);
  }
  inspector.finish();
  mirevo::inspect::writeReport(std::cout, inspector);
  if (options.svgFile) {
    std::ofstream svg(*options.svgFile);
    mirevo::inspect::writeSvg(svg, inspector);
    if (!svg) {
      std::cerr << "mirevo-inspect: cannot write " << options.svgFile->string() << '\n';
      return 2;
    }
    std::cout << "svg: " << options.svgFile->string() << '\n';
  }
  return inspector.violations().empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parseArguments(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return 2;
  }
  try {
    return inspect(*options);
  } catch (const std::exception& error) {
    std::cerr << "mirevo-inspect: " << error.what() << '\n';
    return 2;
  }
}
