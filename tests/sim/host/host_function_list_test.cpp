// The host's function list (sim/host/host_functions.h) against the copies the
// plug-in keeps of its part, which may not include it: the declarations of
// src/host/host_api.h (types and decorated names), the plug-in's import file
// cmake/ScriptHookV.def and the imports scripts/check-dll-imports.sh expects.
#include "sim/host/host_functions.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>

#include "src/host/host_api.h"

namespace {

// Each function the plug-in imports has the list's type in host_api.h.
#define REBOUND_SAME_TYPE(name, Member, decorated, Return, Params, Args) \
  static_assert(std::is_same_v<decltype(&::name), Return(*) Params>,     \
                "src/host/host_api.h declares " #name                    \
                " with another type than the "                           \
                "host's list");
REBOUND_PLUGIN_HOST_FUNCTIONS(REBOUND_SAME_TYPE)
#undef REBOUND_SAME_TYPE

using Names = std::map<std::string, std::string>;  // function -> decorated name

Names ListedNames(bool pluginOnly) {
  Names names;
#define REBOUND_LISTED_NAME(name, Member, decorated, Return, Params, Args) names[#name] = decorated;
  if (pluginOnly) {
    REBOUND_PLUGIN_HOST_FUNCTIONS(REBOUND_LISTED_NAME)
  } else {
    REBOUND_HOST_FUNCTIONS(REBOUND_LISTED_NAME)
  }
#undef REBOUND_LISTED_NAME
  return names;
}

std::set<std::string> Decorated(const Names& names) {
  std::set<std::string> decorated;
  for (const auto& [name, d] : names) decorated.insert(d);
  return decorated;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every match of `pattern` in `text`: its first group, mapped to its second
// (or to itself when it has no second or the second matched nothing).
Names Matches(const std::string& text, const std::regex& pattern) {
  Names found;
  for (std::sregex_iterator m(text.begin(), text.end(), pattern), end; m != end; ++m) {
    found[(*m)[1]] = m->size() > 2 && (*m)[2].matched ? (*m)[2].str() : (*m)[1].str();
  }
  return found;
}

TEST(HostFunctionList, HostApiDeclaresThePluginsFunctionsUnderTheirDecoratedNames) {
  const std::string header = ReadFile(REBOUND_HOST_API_H);
  const Names declared =
      Matches(header, std::regex(R"re((\w+)\([^;()]*\)\s*REBOUND_HOST_NAME\("([^"]+)"\))re"));
  EXPECT_EQ(declared, ListedNames(true));
}

TEST(HostFunctionList, ThePluginsImportsAreTheListsPluginFunctions) {
  const std::set<std::string> expected = Decorated(ListedNames(true));
  const struct {
    const char* path;
    const char* pattern;  // one group: a decorated name
  } copies[] = {
      {REBOUND_PLUGIN_HOST_DEF, R"re(\n\s*(\?[^\s;=]+))re"},   // the EXPORTS lines
      {REBOUND_DLL_IMPORTS_CHECK, R"re(\n\s*'(\?[^']+)')re"},  // its host_functions array
  };
  for (const auto& copy : copies) {
    const Names found = Matches(ReadFile(copy.path), std::regex(copy.pattern));
    std::set<std::string> names;
    for (const auto& [name, same] : found) names.insert(name);
    EXPECT_EQ(names, expected) << copy.path;
  }
}

// The stand-in's .def file, which CMake writes from the list's text: each
// function exported under its decorated name by its forwarder, and nothing
// else but the table's installer.
TEST(HostFunctionList, TheStandInExportsEachFunctionThroughItsForwarder) {
  Names expected;
#define REBOUND_STAND_IN_EXPORT(name, Member, decorated, Return, Params, Args) \
  expected[decorated] = "StandIn" #Member;
  REBOUND_HOST_FUNCTIONS(REBOUND_STAND_IN_EXPORT)
#undef REBOUND_STAND_IN_EXPORT
  expected["ReboundSimInstallHost"] = "ReboundSimInstallHost";
  const std::string def = ReadFile(REBOUND_SIM_HOST_DEF);
  EXPECT_EQ(Matches(def, std::regex(R"re(\n {4}(\S+)(?: = (\w+))?)re")), expected) << def;
}

// The decorated name is MSVC's for a plain function of that name; an overload
// of a function listed already takes a name of its own that starts with the
// function's, since the Linux exports and the table's fields go by name.
TEST(HostFunctionList, EachDecoratedNameIsTheFunctions) {
  const Names listed = ListedNames(false);
  for (const auto& [name, decorated] : listed) {
    const std::size_t end = decorated.find("@@YA");
    ASSERT_NE(end, std::string::npos) << name << ": " << decorated << " is not a plain function's";
    const std::string function = decorated.substr(1, end - 1);
    EXPECT_EQ(decorated[0], '?') << name << ": " << decorated;
    EXPECT_EQ(name.rfind(function, 0), 0u) << name << ": " << decorated;
  }
  EXPECT_EQ(Decorated(listed).size(), listed.size()) << "two functions under one name";
}

}  // namespace
