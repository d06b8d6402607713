// docs/api.md against the engine: one section per registered function, in
// registration order, each with its arguments, result, errors and an
// example; every key constant with its code; examples that compile.
#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "host/api_table.h"
#include "host/key_table.h"

namespace {

std::string ReadDoc(const std::string& relative) {
  std::ifstream in(std::string(PELTO_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A function's section: its "### Name" heading, a lone identifier, up to the
// next heading of level 1-3. Other headings always have more than one word.
struct Section {
  std::string name;
  std::string body;
};

std::vector<Section> FunctionSections(const std::string& text) {
  static const std::regex functionHeading("^### ([A-Za-z_][A-Za-z0-9_]*)\\s*$");
  static const std::regex anyHeading("^#{1,3} ");
  std::vector<Section> sections;
  Section* open = nullptr;
  bool inCode = false;
  for (const std::string& line : Lines(text)) {
    if (line.rfind("```", 0) == 0) inCode = !inCode;
    std::smatch match;
    if (!inCode && std::regex_search(line, anyHeading)) {
      open = nullptr;
      if (std::regex_match(line, match, functionHeading)) {
        sections.push_back({match[1], ""});
        open = &sections.back();
      }
      continue;
    }
    if (open) open->body += line + "\n";
  }
  return sections;
}

TEST(ApiDocs, OneSectionPerRegisteredFunctionInRegistrationOrder) {
  std::string doc = ReadDoc("docs/api.md");
  ASSERT_FALSE(doc.empty()) << "docs/api.md is missing";
  std::vector<std::string> documented;
  for (const Section& section : FunctionSections(doc)) documented.push_back(section.name);
  std::vector<std::string> registered;
  for (const ApiFunction* entry = kEngineApi; entry->name; ++entry) registered.push_back(entry->name);
  // Name what is missing or extra before comparing the order, so a failure
  // says what to write.
  for (const std::string& name : registered) {
    EXPECT_NE(std::find(documented.begin(), documented.end(), name), documented.end())
        << "docs/api.md has no \"### " << name << "\" section";
  }
  for (const std::string& name : documented) {
    EXPECT_NE(std::find(registered.begin(), registered.end(), name), registered.end())
        << "docs/api.md documents \"" << name << "\", which the engine does not register";
  }
  EXPECT_EQ(documented, registered) << "sections must follow the registration order of host/api_table.cpp";
}

TEST(ApiDocs, EverySectionGivesCallArgumentsResultErrorsAndAnExample) {
  for (const Section& section : FunctionSections(ReadDoc("docs/api.md"))) {
    const std::string& body = section.body;
    EXPECT_NE(body.find(section.name + "("), std::string::npos) << section.name << ": no call form";
    for (const char* part : {"- **Arguments:**", "- **Result:**", "- **Errors:**", "```lua\n"}) {
      EXPECT_NE(body.find(part), std::string::npos) << section.name << " lacks " << part;
    }
  }
}

TEST(ApiDocs, KeyTableListsEveryKeyConstantWithItsCode) {
  static const std::regex cell("`(KEY_[A-Z0-9_]+)` \\| ([0-9]+) \\|");
  std::map<std::string, int> documented;
  for (const std::string& line : Lines(ReadDoc("docs/api.md"))) {
    if (line.empty() || line[0] != '|') continue;
    for (std::sregex_iterator it(line.begin(), line.end(), cell), end; it != end; ++it) {
      EXPECT_TRUE(documented.emplace((*it)[1], std::stoi((*it)[2])).second) << (*it)[1] << " twice";
    }
  }
  std::map<std::string, int> engine;
  for (const KeyName* key = kKeyTable; key->name; ++key) engine[key->name] = key->value;
  EXPECT_EQ(engine.size(), 117u);
  EXPECT_EQ(documented, engine);
}

TEST(ApiDocs, EveryLuaExampleCompiles) {
  std::string doc = ReadDoc("docs/api.md");
  std::vector<std::string> examples;
  std::string current;
  bool inLua = false;
  for (const std::string& line : Lines(doc)) {
    if (!inLua && line == "```lua") {
      inLua = true;
      current.clear();
    } else if (inLua && line == "```") {
      inLua = false;
      examples.push_back(current);
    } else if (inLua) {
      current += line + "\n";
    }
  }
  EXPECT_FALSE(inLua) << "an example is not closed";
  EXPECT_GE(examples.size(), 71u);
  lua_State* L = luaL_newstate();
  ASSERT_NE(L, nullptr);
  for (const std::string& example : examples) {
    if (luaL_loadbuffer(L, example.data(), example.size(), "=example") != 0) {
      ADD_FAILURE() << lua_tostring(L, -1) << "\nin\n" << example;
    }
    lua_settop(L, 0);
  }
  lua_close(L);
}

}  // namespace
