// The registration table: every registered function is one of the engine
// API's names, in the order scripts have always seen them, and only once.
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "host/api_table.h"

namespace {

const char* const kAllNames[] = {
    "OsUpdate", "OsQuit", "OsTicks", "OsDisplayWidth", "OsDisplayHeight", "OsProfilePath",
    "OsCreateDirectory", "OsScanPath", "OsVSync", "OsCRTFilter", "OpenDisplay", "CloseDisplay",
    "Flip", "Line", "FillRect", "Plot", "Box", "Cls", "LoadTileset", "DeleteTileset", "Sprite",
    "AssignTileset", "AssignMap", "LoadMap", "DeleteMap", "CreateMap", "Playfield", "MapWidth",
    "MapHeight", "TileWidth", "TileHeight", "SetTile", "GetTile", "GetTileFlipping", "KeyDown",
    "KeyPressed", "Inkey", "KeyRepeatOn", "KeyRepeatOff", "MouseX", "MouseY", "MouseLMB",
    "MouseRMB", "MouseOn", "MouseOff", "JoystickPosition", "JoystickButton", "LoadMusic",
    "PlayMusic", "SetMusicVolume", "StopMusic", "DeleteMusic", "LoadSound", "PlaySound",
    "GetSoundDefaultRate", "SetChannelVolume", "SetChannelPanning", "StopChannel",
    "IsChannelActive", "DeleteSound", "CreateBank", "DeleteBank", "BankSize", "BLoad", "BSave",
    "Peek", "Poke", "Deek", "Doke", "Randomize", "Rnd",
};

TEST(EngineApiTable, HasSeventyOneNamesToChooseFrom) {
  EXPECT_EQ(sizeof kAllNames / sizeof kAllNames[0], 71u);
}

TEST(EngineApiTable, RegistersKnownNamesInOrderOnce) {
  std::map<std::string, int> position;
  for (int i = 0; i < 71; ++i) position[kAllNames[i]] = i;
  std::map<std::string, int> seen;
  int last = -1;
  int count = 0;
  for (const ApiFunction* entry = kEngineApi; entry->name; ++entry, ++count) {
    ASSERT_LT(count, 71) << "the table has no end entry";
    auto found = position.find(entry->name);
    ASSERT_NE(found, position.end()) << entry->name << " is not an engine API name";
    EXPECT_GT(found->second, last) << entry->name << " is out of order";
    last = found->second;
    EXPECT_EQ(++seen[entry->name], 1) << entry->name << " is registered twice";
    EXPECT_NE(entry->function, nullptr) << entry->name;
  }
  EXPECT_EQ(count, 71) << "every engine API function is registered";
}

}  // namespace
