// The one ordered registration table of the engine API. Each area adds its
// functions here when it builds them, in the order scripts have always seen
// them registered:
//   OsUpdate OsQuit OsTicks OsDisplayWidth OsDisplayHeight OsProfilePath
//   OsCreateDirectory OsScanPath OsVSync OsCRTFilter OpenDisplay CloseDisplay
//   Flip Line FillRect Plot Box Cls LoadTileset DeleteTileset Sprite
//   AssignTileset AssignMap LoadMap DeleteMap CreateMap Playfield MapWidth
//   MapHeight TileWidth TileHeight SetTile GetTile GetTileFlipping KeyDown
//   KeyPressed Inkey KeyRepeatOn KeyRepeatOff MouseX MouseY MouseLMB MouseRMB
//   MouseOn MouseOff JoystickPosition JoystickButton LoadMusic PlayMusic
//   SetMusicVolume StopMusic DeleteMusic LoadSound PlaySound
//   GetSoundDefaultRate SetChannelVolume SetChannelPanning StopChannel
//   IsChannelActive DeleteSound CreateBank DeleteBank BankSize BLoad BSave
//   Peek Poke Deek Doke Randomize Rnd
#include "host/api_table.h"

#include "audio/music_api.h"
#include "audio/sound_api.h"
#include "banks/bank_api.h"
#include "banks/random_api.h"
#include "host/frame_api.h"
#include "host/os_api.h"
#include "input/input_api.h"
#include "video/map_api.h"
#include "video/tileset_api.h"
#include "video/video_api.h"

const ApiFunction kEngineApi[] = {
    {LuaOsUpdate, "OsUpdate"},
    {LuaOsQuit, "OsQuit"},
    {LuaOsTicks, "OsTicks"},
    {LuaOsDisplayWidth, "OsDisplayWidth"},
    {LuaOsDisplayHeight, "OsDisplayHeight"},
    {LuaOsProfilePath, "OsProfilePath"},
    {LuaOsCreateDirectory, "OsCreateDirectory"},
    {LuaOsScanPath, "OsScanPath"},
    {LuaOsVSync, "OsVSync"},
    {LuaOsCRTFilter, "OsCRTFilter"},
    {LuaOpenDisplay, "OpenDisplay"},
    {LuaCloseDisplay, "CloseDisplay"},
    {LuaFlip, "Flip"},
    {LuaLine, "Line"},
    {LuaFillRect, "FillRect"},
    {LuaPlot, "Plot"},
    {LuaBox, "Box"},
    {LuaCls, "Cls"},
    {LuaLoadTileset, "LoadTileset"},
    {LuaDeleteTileset, "DeleteTileset"},
    {LuaSprite, "Sprite"},
    {LuaAssignTileset, "AssignTileset"},
    {LuaAssignMap, "AssignMap"},
    {LuaLoadMap, "LoadMap"},
    {LuaDeleteMap, "DeleteMap"},
    {LuaCreateMap, "CreateMap"},
    {LuaPlayfield, "Playfield"},
    {LuaMapWidth, "MapWidth"},
    {LuaMapHeight, "MapHeight"},
    {LuaTileWidth, "TileWidth"},
    {LuaTileHeight, "TileHeight"},
    {LuaSetTile, "SetTile"},
    {LuaGetTile, "GetTile"},
    {LuaGetTileFlipping, "GetTileFlipping"},
    {LuaKeyDown, "KeyDown"},
    {LuaKeyPressed, "KeyPressed"},
    {LuaInkey, "Inkey"},
    {LuaKeyRepeatOn, "KeyRepeatOn"},
    {LuaKeyRepeatOff, "KeyRepeatOff"},
    {LuaMouseX, "MouseX"},
    {LuaMouseY, "MouseY"},
    {LuaMouseLMB, "MouseLMB"},
    {LuaMouseRMB, "MouseRMB"},
    {LuaMouseOn, "MouseOn"},
    {LuaMouseOff, "MouseOff"},
    {LuaJoystickPosition, "JoystickPosition"},
    {LuaJoystickButton, "JoystickButton"},
    {LuaLoadMusic, "LoadMusic"},
    {LuaPlayMusic, "PlayMusic"},
    {LuaSetMusicVolume, "SetMusicVolume"},
    {LuaStopMusic, "StopMusic"},
    {LuaDeleteMusic, "DeleteMusic"},
    {LuaLoadSound, "LoadSound"},
    {LuaPlaySound, "PlaySound"},
    {LuaGetSoundDefaultRate, "GetSoundDefaultRate"},
    {LuaSetChannelVolume, "SetChannelVolume"},
    {LuaSetChannelPanning, "SetChannelPanning"},
    {LuaStopChannel, "StopChannel"},
    {LuaIsChannelActive, "IsChannelActive"},
    {LuaDeleteSound, "DeleteSound"},
    {LuaCreateBank, "CreateBank"},
    {LuaDeleteBank, "DeleteBank"},
    {LuaBankSize, "BankSize"},
    {LuaBLoad, "BLoad"},
    {LuaBSave, "BSave"},
    {LuaPeek, "Peek"},
    {LuaPoke, "Poke"},
    {LuaDeek, "Deek"},
    {LuaDoke, "Doke"},
    {LuaRandomize, "Randomize"},
    {LuaRnd, "Rnd"},
    {nullptr, nullptr},
};
