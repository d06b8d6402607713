// The one Lua state of the process: libraries, engine API, `pelto`, boot.prg.
#pragma once

struct lua_State;

// Creates the state, registers everything, runs boot.prg to its end and
// closes the state. Failures end the process through FatalError.
void ScriptHost();

// Opens the libraries, registers the engine API and builds `pelto`; a
// lua_CFunction for lua_cpcall. The development mode builds each new run's
// state with it too.
int SetUpScriptState(lua_State* L);

// Loads and runs boot.prg; returns 0 on success and does not return on failure.
int RunBootScript(lua_State* L);
