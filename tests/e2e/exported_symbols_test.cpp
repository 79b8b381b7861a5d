// libtavrocloud.so shows the host exactly its factories and their destroyers, and takes
// from the host only the interfaces listed in module_host_symbols.txt.
#include <cxxabi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "e2e/runner_process.h"
#include "support/test_data.h"

namespace {

// Each factory `_make_<Name>` with its destroyer `_gobble_<Name>`.
const char* const EXPORTED_NAMES[] = {
    "Tavrocloud_Job_Creator",
    "Tavrocloud_Backup_Source_Parser_Creator",  "Tavrocloud_Backup_Options_Parser_Creator",
    "Tavrocloud_Restore_Source_Parser_Creator", "Tavrocloud_Restore_Options_Parser_Creator",
    "Tavrocloud_Instance_Handler",              "JSON_RPC_Tavrocloud_List_Handler",
    "JSON_RPC_Tavrocloud_Login_Handler",
};

// The dynamic symbols of the built library `name` that `nm -D <which>` lists.
std::set<std::string> dynamic_symbols(const std::string& name, const char* which) {
  const std::string path = test::built(name);
  EXPECT_EQ(0, ::access(path.c_str(), R_OK)) << "no library at " << path;
  std::set<std::string> symbols;
  FILE* const nm = ::popen(("nm -D " + std::string(which) + " '" + path + "'").c_str(), "r");
  if (nm == nullptr) return symbols;
  char line[4096];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const size_t space = text.rfind(' ');  // the name is the last field
    symbols.insert(space == std::string::npos ? text : text.substr(space + 1));
  }
  EXPECT_EQ(0, ::pclose(nm));
  return symbols;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
}

// `symbol` demangled, with std::string spelled so and no "[abi:cxx11]" tags.
std::string readable(const std::string& symbol) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> out(
      abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), &std::free);
  std::string text = status == 0 && out ? out.get() : symbol;
  replace_all(text, "std::__cxx11::basic_string<char, std::char_traits<char>, "
                    "std::allocator<char> >", "std::string");
  replace_all(text, "[abi:cxx11]", "");
  return text;
}

// True when the readable `symbol` matches an entry of the list (its head says how).
bool allowed(const std::string& symbol, const std::vector<std::string>& entries) {
  std::string name = symbol.substr(0, symbol.find('('));
  for (const char* special : {"vtable for ", "typeinfo for ", "typeinfo name for "})
    if (name.rfind(special, 0) == 0) name = name.substr(std::string(special).size()) + "::";
  for (const std::string& entry : entries) {
    const bool member_of = entry.size() > 3 && entry.compare(entry.size() - 3, 3, "::*") == 0;
    if (entry.find('(') != std::string::npos ? symbol == entry
        : member_of ? name.rfind(entry.substr(0, entry.size() - 1), 0) == 0
                    : name == entry)
      return true;
  }
  return false;
}

TEST(Exported_Symbols, OnlyTheFactoriesAndTheirDestroyers) {
  const std::set<std::string> defined = dynamic_symbols("libtavrocloud.so", "--defined-only");
  std::set<std::string> expected;
  for (const char* name : EXPORTED_NAMES)
    expected.insert({std::string("_make_") + name, std::string("_gobble_") + name});
  EXPECT_EQ(expected, defined);
}

// What the module takes from the host (the host's symbols among the module's undefined
// ones; the C library, ACE, yajl and the like are not the host's) is on the list.
TEST(Exported_Symbols, TheModuleTakesOnlyTheListedHostInterfaces) {
  const std::string list = test::tests_dir() + "/e2e/module_host_symbols.txt";
  std::ifstream file(list);
  ASSERT_TRUE(file.good()) << "no list at " << list;
  std::vector<std::string> entries;
  for (std::string line; std::getline(file, line);)
    if (!line.empty() && line[0] != '#') entries.push_back(line);
  const std::set<std::string> host = dynamic_symbols("libquillon3_host.so", "--defined-only");
  const std::set<std::string> needed = dynamic_symbols("libtavrocloud.so", "--undefined-only");
  size_t from_host = 0;
  std::string outside;
  for (const std::string& symbol : needed) {
    if (host.count(symbol) == 0) continue;
    ++from_host;
    const std::string text = readable(symbol);
    if (!allowed(text, entries)) outside += "  " + text + "\n";
  }
  EXPECT_GT(from_host, 0u) << "the module takes nothing from the host: the test sees nothing";
  EXPECT_EQ("", outside) << "the module takes these from the host beyond its interfaces";
}

}  // namespace
