// Lua modules -> one boot.prg. Each module is compiled on its own under its
// own chunk name ("@lib/vec.lua"), so every function keeps its source file
// and lines; the bundle's main function is a small prelude that defines
// `require` and holds each module's main function as a nested function.
// Everything here works on the Lua library's standard precompiled form; the
// caller translates the bundle to the engine's form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A literal require("name") found in a compiled module, with its line.
struct RequireSite {
  std::string name;
  int line = 0;
};

// Compiles Lua source (a leading "#!" line is blanked) into the standard
// form, under chunkName (e.g. "@lib/vec.lua"). On a syntax error returns
// false with Lua's message ("lib/vec.lua:3: 'end' expected near ...").
bool CompileLuaModule(const std::string& source, const std::string& chunkName, std::vector<uint8_t>* dump,
                      std::string* message);

// The literal requires of a module: a global `require` called with one
// string constant, in any function of the chunk, in code order. False if
// the dump is not a standard chunk of this machine.
bool FindRequires(const std::vector<uint8_t>& dump, std::vector<RequireSite>* sites);

struct BundleModule {
  std::string name;           // "lib.vec"
  std::vector<uint8_t> dump;  // the module's standard chunk
};

// Joins the modules into one standard chunk whose main function defines the
// global `require` (and `package.loaded`, `package.preload`) and then runs
// the module named entryName. False with a message if a dump is not a
// standard chunk or a module has upvalues (a main function never has).
bool BundleModules(const std::vector<BundleModule>& modules, const std::string& entryName,
                   std::vector<uint8_t>* bundle, std::string* message);

// Module name of a source path relative to the game folder: "lib/vec.lua"
// -> "lib.vec"; empty when the path is not a *.lua file.
std::string ModuleNameOfPath(const std::string& relativePath);
