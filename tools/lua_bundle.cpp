// Module bundling over the Lua library's standard precompiled form.
#include "tools/lua_bundle.h"

#include <cstring>
#include <new>

#include <lua.hpp>

#include "host/chunk_translate.h"

namespace {

// Standard Lua 5.1 operation numbers the require scan looks for.
constexpr uint32_t kOpLoadK = 1, kOpGetGlobal = 5, kOpCall = 28, kOpTailCall = 29;
constexpr uint8_t kConstNil = 0, kConstBoolean = 1, kConstNumber = 3, kConstString = 4;
constexpr size_t kLengthSize = sizeof(size_t);  // lua_dump writes size_t lengths

// Where the parts of one function record lie in a standard dump, and the
// few contents the bundler needs.
struct Record {
  size_t begin = 0, end = 0;
  size_t codeAt = 0;        // the first instruction
  int32_t codeCount = 0;
  uint8_t upvalueCount = 0;
  std::vector<std::string> stringConstants;  // "" for other constants
  std::vector<bool> isString;
  size_t nestedCountAt = 0;  // the nested-function count field
  std::vector<Record> nested;
  std::vector<int32_t> lines;  // line of each instruction (may be empty)
};

// Reads function records of our own dumps; bounds are checked all the same.
class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ReadChunk(Record* main) {
    if (size_ < sizeof kStandardChunkHeader || std::memcmp(data_, kStandardChunkHeader, sizeof kStandardChunkHeader))
      return false;
    pos_ = sizeof kStandardChunkHeader;
    return ReadFunction(main, 0) && pos_ == size_;
  }

 private:
  bool Skip(size_t n) {
    if (size_ - pos_ < n) return false;
    pos_ += n;
    return true;
  }
  bool Int(int32_t* value) {
    if (size_ - pos_ < 4) return false;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(data_[pos_ + i]) << (8 * i);
    pos_ += 4;
    *value = int32_t(v);
    return *value >= 0;
  }
  bool String(std::string* text) {
    if (size_ - pos_ < kLengthSize) return false;
    uint64_t length = 0;
    for (size_t i = 0; i < kLengthSize; ++i) length |= uint64_t(data_[pos_ + i]) << (8 * i);
    pos_ += kLengthSize;
    if (length > size_ - pos_) return false;
    if (text && length > 0) text->assign(reinterpret_cast<const char*>(data_ + pos_), size_t(length) - 1);
    pos_ += size_t(length);
    return true;
  }

  bool ReadFunction(Record* record, int depth) {
    if (depth > kChunkMaxNesting) return false;
    record->begin = pos_;
    int32_t count = 0;
    if (!String(nullptr) || !Skip(8)) return false;  // source, line defined, last line
    if (size_ - pos_ < 4) return false;
    record->upvalueCount = data_[pos_];
    pos_ += 4;  // upvalues, parameters, vararg flags, stack size
    if (!Int(&record->codeCount)) return false;
    record->codeAt = pos_;
    if (!Skip(size_t(record->codeCount) * 4) || !Int(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
      if (size_ - pos_ < 1) return false;
      uint8_t type = data_[pos_++];
      std::string text;
      bool ok = type == kConstNil ? true
                : type == kConstBoolean ? Skip(1)
                : type == kConstNumber  ? Skip(8)
                : type == kConstString  ? String(&text)
                                        : false;
      if (!ok) return false;
      record->stringConstants.push_back(text);
      record->isString.push_back(type == kConstString);
    }
    record->nestedCountAt = pos_;
    if (!Int(&count)) return false;
    record->nested.resize(size_t(count));
    for (Record& nested : record->nested) {
      if (!ReadFunction(&nested, depth + 1)) return false;
    }
    if (!Int(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
      int32_t line = 0;
      if (!Int(&line)) return false;
      record->lines.push_back(line);
    }
    if (!Int(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
      if (!String(nullptr) || !Skip(8)) return false;
    }
    if (!Int(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
      if (!String(nullptr)) return false;
    }
    record->end = pos_;
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

uint32_t Instruction(const std::vector<uint8_t>& dump, const Record& record, int32_t pc) {
  size_t at = record.codeAt + size_t(pc) * 4;
  return uint32_t(dump[at]) | uint32_t(dump[at + 1]) << 8 | uint32_t(dump[at + 2]) << 16 | uint32_t(dump[at + 3]) << 24;
}

// GETGLOBAL r "require"; LOADK r+1 "name"; CALL r 2 _ is what the compiler
// makes of require("name") and require "name", as a statement or a value.
void ScanRequires(const std::vector<uint8_t>& dump, const Record& record, std::vector<RequireSite>* sites) {
  auto stringConstant = [&](uint32_t index, std::string* text) {
    if (index >= record.isString.size() || !record.isString[index]) return false;
    *text = record.stringConstants[index];
    return true;
  };
  for (int32_t pc = 0; pc + 2 < record.codeCount; ++pc) {
    uint32_t get = Instruction(dump, record, pc);
    std::string text;
    if ((get & 0x3F) != kOpGetGlobal || !stringConstant(get >> 14, &text) || text != "require") continue;
    uint32_t a = (get >> 6) & 0xFF;
    uint32_t load = Instruction(dump, record, pc + 1);
    uint32_t call = Instruction(dump, record, pc + 2);
    if ((load & 0x3F) != kOpLoadK || ((load >> 6) & 0xFF) != a + 1) continue;
    if (((call & 0x3F) != kOpCall && (call & 0x3F) != kOpTailCall) || ((call >> 6) & 0xFF) != a ||
        (call >> 23) != 2)
      continue;
    RequireSite site;
    if (!stringConstant(load >> 14, &site.name)) continue;
    site.line = size_t(pc + 1) < record.lines.size() ? record.lines[size_t(pc + 1)] : 0;
    sites->push_back(site);
  }
  for (const Record& nested : record.nested) ScanRequires(dump, nested, sites);
}

void PutInt(std::vector<uint8_t>* out, int32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(uint32_t(value) >> (8 * i)));
}

// Copies a record without its line information, local names and upvalue
// names (the prelude is no code of the game: a traceback shows it as
// "[C]", like Lua's own require), except that the main function's nested
// placeholders [firstSwap, ...) are replaced by the given module records.
void WriteStripped(const std::vector<uint8_t>& dump, const Record& record, std::vector<uint8_t>* out,
                   const std::vector<const std::vector<uint8_t>*>* swaps, size_t firstSwap) {
  out->insert(out->end(), dump.begin() + long(record.begin), dump.begin() + long(record.nestedCountAt));
  PutInt(out, int32_t(record.nested.size()));
  for (size_t i = 0; i < record.nested.size(); ++i) {
    if (swaps && i >= firstSwap && i - firstSwap < swaps->size()) {
      const std::vector<uint8_t>& module = *(*swaps)[i - firstSwap];
      out->insert(out->end(), module.begin() + long(sizeof kStandardChunkHeader), module.end());
    } else {
      WriteStripped(dump, record.nested[i], out, nullptr, 0);
    }
  }
  PutInt(out, 0);  // line information
  PutInt(out, 0);  // local variables
  PutInt(out, 0);  // upvalue names
}

// A Lua string literal for a module name (names are file paths, so they
// may hold any byte but '/').
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 32 || c >= 127) {
      out += "\\" + std::to_string(unsigned(c));
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

int CollectDump(lua_State*, const void* bytes, size_t size, void* out) {
  auto* dump = static_cast<std::vector<uint8_t>*>(out);
  const uint8_t* first = static_cast<const uint8_t*>(bytes);
  try {
    dump->insert(dump->end(), first, first + size);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

}  // namespace

bool CompileLuaModule(const std::string& sourceText, const std::string& chunkName, std::vector<uint8_t>* dump,
                      std::string* message) {
  std::string source = sourceText;
  // An executable script's "#!" line is not Lua; blank it but keep its line
  // break so that line numbers stay those of the file.
  if (!source.empty() && source[0] == '#') {
    size_t lineEnd = source.find('\n');
    source.erase(0, lineEnd == std::string::npos ? source.size() : lineEnd);
  }
  lua_State* L = luaL_newstate();  // compiling needs no library
  if (!L) {
    *message = "not enough memory";
    return false;
  }
  dump->clear();
  bool ok = luaL_loadbuffer(L, source.data(), source.size(), chunkName.c_str()) == 0;
  if (!ok) {
    const char* text = lua_tostring(L, -1);
    *message = text ? text : "cannot compile";
  } else if (lua_dump(L, CollectDump, dump) != 0) {
    *message = "not enough memory";
    ok = false;
  }
  lua_close(L);
  return ok;
}

bool FindRequires(const std::vector<uint8_t>& dump, std::vector<RequireSite>* sites) {
  Record main;
  RecordReader reader(dump.data(), dump.size());
  if (!reader.ReadChunk(&main)) return false;
  ScanRequires(dump, main, sites);
  return true;
}

// The prelude's first nested functions are one empty placeholder per module,
// in the modules' order; their records are swapped for the modules' main
// functions, which likewise take varargs and have no upvalues. require
// follows Lua 5.1's: package.preload first, a sentinel in package.loaded
// while a module runs (so a loop is an error unless the module stored its
// table there itself), the module's name as its argument, true for a module
// that returns nothing. Errors name the caller's line.
bool BundleModules(const std::vector<BundleModule>& modules, const std::string& entryName,
                   std::vector<uint8_t>* bundle, std::string* message) {
  std::string prelude = "local loaders = {\n";
  for (const BundleModule& module : modules) prelude += "[" + Quoted(module.name) + "] = function(...) end,\n";
  prelude +=
      "}\n"
      "local error, type, tostring = error, type, tostring\n"
      "local package = {loaded = {}, preload = {}}\n"
      "_G.package = package\n"
      "local loaded = package.loaded\n"
      "loaded._G, loaded.string, loaded.table, loaded.math, loaded.coroutine = _G, string, table, math, coroutine\n"
      "local sentinel = {}\n"
      "local function run(name, loader, ...)\n"
      "  loaded[name] = sentinel\n"
      "  local result = loader(...)\n"
      "  if result ~= nil then loaded[name] = result end\n"
      "  if loaded[name] == sentinel then loaded[name] = true end\n"
      "  return loaded[name]\n"
      "end\n"
      "function require(name)\n"
      "  local kind = type(name)\n"
      "  if kind ~= 'string' and kind ~= 'number' then\n"
      "    error(\"bad argument #1 to 'require' (string expected, got \" .. (kind == 'nil' and 'no value' or kind) .. \")\", 2)\n"
      "  end\n"
      "  name = tostring(name)\n"
      "  local value = loaded[name]\n"
      "  if value then\n"
      "    if value == sentinel then error(\"loop or previous error loading module '\" .. name .. \"'\", 2) end\n"
      "    return value\n"
      "  end\n"
      "  local preload = package.preload\n"
      "  local loader = type(preload) == 'table' and preload[name] or loaders[name]\n"
      "  if not loader then error(\"module '\" .. name .. \"' not found\", 2) end\n"
      "  return run(name, loader, name)\n"
      "end\n"
      "run(" + Quoted(entryName) + ", loaders[" + Quoted(entryName) + "])\n";

  std::vector<uint8_t> preludeDump;
  // "=[C]": what a traceback names the prelude's frames, as it names Lua's
  // own require.
  if (!CompileLuaModule(prelude, "=[C]", &preludeDump, message)) {
    *message = "internal error: the require prelude does not compile: " + *message;
    return false;
  }
  Record main;
  if (!RecordReader(preludeDump.data(), preludeDump.size()).ReadChunk(&main) ||
      main.nested.size() < modules.size()) {
    *message = "internal error: cannot read the require prelude";
    return false;
  }
  std::vector<const std::vector<uint8_t>*> swaps;
  for (const BundleModule& module : modules) {
    Record record;
    if (!RecordReader(module.dump.data(), module.dump.size()).ReadChunk(&record) || record.upvalueCount != 0) {
      *message = "internal error: module " + module.name + " is not a standard main chunk";
      return false;
    }
    swaps.push_back(&module.dump);
  }
  bundle->assign(preludeDump.begin(), preludeDump.begin() + long(sizeof kStandardChunkHeader));
  WriteStripped(preludeDump, main, bundle, &swaps, 0);
  return true;
}

std::string ModuleNameOfPath(const std::string& relativePath) {
  const std::string extension = ".lua";
  if (relativePath.size() <= extension.size() ||
      relativePath.compare(relativePath.size() - extension.size(), extension.size(), extension) != 0)
    return "";
  std::string name = relativePath.substr(0, relativePath.size() - extension.size());
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  return name;
}
