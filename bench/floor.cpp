// Lower bound ("floor") for one Zantrel merge job, for bench/run_bench.py.
//
//   bench_floor --shape MERGED.xml --out OUT.xml INPUT.xml [INPUT.xml ...]
//
// Any merge of these inputs has to parse every input and write the merged file.
// This program does only that, with the same libxml2 the tool uses:
//   * before the clock: parse MERGED.xml (a correct merged file from an earlier
//     run of the tool) with xmlReadFile, so that a tree of the output's size
//     exists without merging;
//   * clock on: read each input file into memory, parse it with xmlReadMemory
//     (XML_PARSE_NONET | XML_PARSE_NOBLANKS) and free it again, one after the
//     other (so at most one input tree is alive beside the output tree); then
//     serialise the output tree once with xmlSaveFormatFileEnc(..., "UTF-8", 1);
//   * clock off: print "floor_seconds=X" on standard output.
// No merging, no duplicate removal, no style sheet. Exit status 0 = done, 1 = error.

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS;

bool ReadFile(const char* path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0, std::ios::beg);
  bytes.resize(static_cast<std::size_t>(size));
  if (size > 0) in.read(bytes.data(), static_cast<std::streamsize>(size));
  return static_cast<bool>(in) || in.eof();
}

xmlDocPtr ParseBytes(const std::string& bytes, const char* path) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  return xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), path, nullptr, kParseOptions);
}

int Usage() {
  std::fputs("usage: bench_floor --shape MERGED.xml --out OUT.xml INPUT.xml [INPUT.xml ...]\n", stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* shape_path = nullptr;
  const char* out_path = nullptr;
  std::vector<const char*> inputs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--shape") == 0 && i + 1 < argc) {
      shape_path = argv[++i];
    } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out_path = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      return Usage();
    } else {
      inputs.push_back(argv[i]);
    }
  }
  if (shape_path == nullptr || out_path == nullptr || inputs.empty()) return Usage();

  xmlInitParser();

  // Untimed: the output-sized tree. Parsed from the file in small pieces, so that
  // no file-sized buffer beside the tree raises the peak memory.
  xmlDocPtr shape = xmlReadFile(shape_path, nullptr, kParseOptions);
  if (shape == nullptr) {
    std::fprintf(stderr, "bench_floor: cannot parse %s\n", shape_path);
    return 1;
  }

  std::string bytes;
  const auto start = std::chrono::steady_clock::now();
  for (const char* path : inputs) {
    if (!ReadFile(path, bytes)) {
      std::fprintf(stderr, "bench_floor: cannot read %s\n", path);
      xmlFreeDoc(shape);
      return 1;
    }
    xmlDocPtr doc = ParseBytes(bytes, path);
    if (doc == nullptr) {
      std::fprintf(stderr, "bench_floor: cannot parse %s\n", path);
      xmlFreeDoc(shape);
      return 1;
    }
    xmlFreeDoc(doc);
  }
  std::string().swap(bytes);
  const int written = xmlSaveFormatFileEnc(out_path, shape, "UTF-8", 1);
  const auto stop = std::chrono::steady_clock::now();

  xmlFreeDoc(shape);
  xmlCleanupParser();
  if (written < 0) {
    std::fprintf(stderr, "bench_floor: cannot write %s\n", out_path);
    return 1;
  }
  std::printf("floor_seconds=%.6f\n", std::chrono::duration<double>(stop - start).count());
  return 0;
}
