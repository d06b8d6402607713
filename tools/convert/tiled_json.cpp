// Tiled's JSON files (.tmj maps, .tsj tilesets) read with cJSON into the
// format-neutral map model, with the same flattening of group layers as the
// XML reader. Every field is checked for its type: a string where a number
// belongs is refused, not read as 0.
#include <cjson/cJSON.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "tools/convert/tiled_model.h"

namespace {

struct JsonDeleter {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

JsonPtr ParseJson(const std::vector<uint8_t>& bytes) {
  return JsonPtr(cJSON_ParseWithLength(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

struct JsonReader {
  std::string file;  // for messages; empty for the map itself: the command names it
  TiledReadContext* ctx;
  std::string basePath;  // the file that relative paths start from

  bool Fail(const std::string& where, const std::string& message) {
    std::string prefix = file.empty() ? "" : file + ": ";
    return ctx->Fail(prefix + (where.empty() ? "" : where + ": ") + message);
  }

  bool Number(const cJSON* o, const char* key, double fallback, const std::string& where, double* value) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!item || cJSON_IsNull(item)) {
      *value = fallback;
      return true;
    }
    if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) {
      return Fail(where, std::string("\"") + key + "\" is not a number");
    }
    *value = item->valuedouble;
    return true;
  }
  bool Int(const cJSON* o, const char* key, int64_t fallback, int64_t low, int64_t high, const std::string& where,
           int64_t* value) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!item || cJSON_IsNull(item)) {
      *value = fallback;
      return true;
    }
    double v;
    if (!Number(o, key, 0, where, &v)) return false;
    if (v != std::floor(v) || v < static_cast<double>(low) || v > static_cast<double>(high)) {
      return Fail(where, std::string("\"") + key + "\" is not a whole number from " + std::to_string(low) + " to " +
                             std::to_string(high));
    }
    *value = static_cast<int64_t>(v);
    return true;
  }
  bool Int(const cJSON* o, const char* key, int fallback, int low, int high, const std::string& where, int* value) {
    int64_t v;
    if (!Int(o, key, fallback, low, high, where, &v)) return false;
    *value = static_cast<int>(v);
    return true;
  }
  bool String(const cJSON* o, const char* key, const std::string& where, std::string* value) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!item || cJSON_IsNull(item)) return true;
    if (!cJSON_IsString(item)) return Fail(where, std::string("\"") + key + "\" is not a string");
    *value = item->valuestring;
    return true;
  }
  bool Flag(const cJSON* o, const char* key, bool fallback, const std::string& where, bool* value) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!item || cJSON_IsNull(item)) {
      *value = fallback;
      return true;
    }
    if (!cJSON_IsBool(item)) return Fail(where, std::string("\"") + key + "\" is not true or false");
    *value = cJSON_IsTrue(item);
    return true;
  }

  bool Value(const cJSON* item, const std::string& type, const std::string& where, TiledProperty* prop);
  bool Properties(const cJSON* o, const std::string& where, std::vector<TiledProperty>* out);
  bool Image(const cJSON* o, const char* key, const std::string& where, TiledImage* image);
  bool Tileset(const cJSON* o, TiledTileset* set);
  bool Data(const cJSON* layer, const cJSON* data, int64_t count, const std::string& where, std::vector<uint32_t>* gids);
  bool LayerCommon(const cJSON* o, const TiledLayer& parent, TiledLayer* layer);
  bool TileLayer(const cJSON* o, bool infinite, TiledLayer* layer);
  bool ObjectFields(const cJSON* j, TiledObject* object);
  bool ObjectLayer(const cJSON* o, const std::vector<TiledTileset>& tilesets, TiledLayer* layer);
  bool Layers(const cJSON* list, const TiledLayer& group, int depth, TiledMap* map);
};

bool JsonReader::Value(const cJSON* item, const std::string& type, const std::string& where, TiledProperty* prop) {
  if (type == "class") {
    prop->kind = TiledProperty::kClass;
    if (!item) return true;
    if (!cJSON_IsObject(item)) return Fail(where, "property \"" + prop->name + "\" is not an object");
    const cJSON* member;
    cJSON_ArrayForEach(member, item) {
      TiledProperty m;
      m.name = member->string ? member->string : "";
      std::string memberType = cJSON_IsObject(member) ? "class" : cJSON_IsNumber(member) ? "float"
                               : cJSON_IsBool(member) ? "bool" : "string";
      if (!Value(member, memberType, where, &m)) return false;
      prop->members.push_back(std::move(m));
    }
    return true;
  }
  if (!item) return true;
  if (cJSON_IsNumber(item)) {
    prop->kind = TiledProperty::kNumber;
    prop->number = item->valuedouble;
  } else if (cJSON_IsBool(item)) {
    prop->kind = TiledProperty::kBool;
    prop->flag = cJSON_IsTrue(item);
  } else if (cJSON_IsString(item)) {
    prop->text = item->valuestring;
  } else {
    return Fail(where, "property \"" + prop->name + "\" has a value of no known type");
  }
  return true;
}

bool JsonReader::Properties(const cJSON* o, const std::string& where, std::vector<TiledProperty>* out) {
  const cJSON* list = cJSON_GetObjectItemCaseSensitive(o, "properties");
  if (!list || cJSON_IsNull(list)) return true;
  if (!cJSON_IsArray(list)) return Fail(where, "\"properties\" is not a list");
  const cJSON* p;
  cJSON_ArrayForEach(p, list) {
    if (!cJSON_IsObject(p)) return Fail(where, "a property is not an object");
    TiledProperty prop;
    std::string type = "string";
    if (!String(p, "name", where, &prop.name) || !String(p, "type", where, &type)) return false;
    if (!Value(cJSON_GetObjectItemCaseSensitive(p, "value"), type, where, &prop)) return false;
    out->push_back(std::move(prop));
  }
  return true;
}

bool JsonReader::Image(const cJSON* o, const char* key, const std::string& where, TiledImage* image) {
  std::string source, trans;
  if (!String(o, key, where, &source) || !String(o, "transparentcolor", where, &trans)) return false;
  if (source.empty()) return Fail(where, "the image names no file");
  image->path = TiledResolve(basePath, source);
  if (!trans.empty()) {
    uint32_t argb;
    if (!ParseTiledColor(trans, &argb)) return Fail(where, "\"transparentcolor\" is not a colour");
    image->hasTrans = true;
    image->trans = argb & 0xffffffu;
  }
  return true;
}

bool JsonReader::Tileset(const cJSON* o, TiledTileset* set) {
  set->file = basePath;
  const std::string where = "tileset";
  if (!String(o, "name", where, &set->name) ||
      !Int(o, "tilewidth", 0, 1, 4096, where, &set->tileWidth) ||
      !Int(o, "tileheight", 0, 1, 4096, where, &set->tileHeight) ||
      !Int(o, "spacing", 0, 0, 4096, where, &set->spacing) || !Int(o, "margin", 0, 0, 4096, where, &set->margin) ||
      !Int(o, "tilecount", 0, 0, 1 << 28, where, &set->tileCount) ||
      !Int(o, "columns", 0, 0, 1 << 28, where, &set->columns)) {
    return false;
  }
  if (!cJSON_GetObjectItemCaseSensitive(o, "tilewidth") || !cJSON_GetObjectItemCaseSensitive(o, "tileheight")) {
    return Fail(where, "the tileset has no tile size");
  }
  if (const cJSON* offset = cJSON_GetObjectItemCaseSensitive(o, "tileoffset")) {
    if (!Int(offset, "x", 0, -65536, 65536, where, &set->offsetX) ||
        !Int(offset, "y", 0, -65536, 65536, where, &set->offsetY)) {
      return false;
    }
  }
  if (cJSON_GetObjectItemCaseSensitive(o, "image")) {
    set->hasImage = true;
    if (!Image(o, "image", where, &set->image)) return false;
  }
  set->hasWangSets = cJSON_GetObjectItemCaseSensitive(o, "wangsets") || cJSON_GetObjectItemCaseSensitive(o, "terrains");
  const cJSON* tiles = cJSON_GetObjectItemCaseSensitive(o, "tiles");
  if (tiles && !cJSON_IsArray(tiles)) return Fail(where, "\"tiles\" is not a list");
  const cJSON* t;
  cJSON_ArrayForEach(t, tiles) {
    TiledTile tile;
    int64_t id;
    if (!Int(t, "id", -1, 0, kGidMask, where, &id)) return false;
    if (id < 0) return Fail(where, "a tile has no id");
    tile.id = static_cast<uint32_t>(id);
    if (cJSON_GetObjectItemCaseSensitive(t, "image")) {
      tile.hasImage = true;
      std::string tileWhere = where + " tile " + std::to_string(id);
      if (!Image(t, "image", tileWhere, &tile.image) || !Int(t, "x", 0, 0, 1 << 20, tileWhere, &tile.x) ||
          !Int(t, "y", 0, 0, 1 << 20, tileWhere, &tile.y) ||
          !Int(t, "width", -1, 1, 1 << 20, tileWhere, &tile.width) ||
          !Int(t, "height", -1, 1, 1 << 20, tileWhere, &tile.height)) {
        return false;
      }
    }
    const cJSON* animation = cJSON_GetObjectItemCaseSensitive(t, "animation");
    if (animation && !cJSON_IsArray(animation)) return Fail(where, "an animation is not a list");
    const cJSON* frame;
    cJSON_ArrayForEach(frame, animation) {
      int64_t tileId, duration;
      if (!Int(frame, "tileid", 0, 0, kGidMask, where, &tileId) ||
          !Int(frame, "duration", 0, 0, 0x7fffffff, where, &duration)) {
        return false;
      }
      tile.frames.emplace_back(static_cast<uint32_t>(tileId), static_cast<int>(duration));
    }
    set->tiles.push_back(std::move(tile));
  }
  return true;
}

bool JsonReader::Data(const cJSON* layer, const cJSON* data, int64_t count, const std::string& where,
                      std::vector<uint32_t>* gids) {
  std::string encoding = "csv", compression, error;
  if (!String(layer, "encoding", where, &encoding) || !String(layer, "compression", where, &compression)) return false;
  if (!data) return Fail(where, "the layer has no data");
  if (cJSON_IsString(data)) {
    if (encoding != "base64") return Fail(where, "layer data is text but the encoding is not base64");
    if (!DecodeTiledBase64Data(data->valuestring, compression, count, gids, &error)) return Fail(where, error);
    return true;
  }
  if (!cJSON_IsArray(data)) return Fail(where, "layer data is neither a list nor base64 text");
  gids->clear();
  const cJSON* cell;
  cJSON_ArrayForEach(cell, data) {
    if (static_cast<int64_t>(gids->size()) >= count) return Fail(where, "layer data holds more than " + std::to_string(count) + " cells");
    double v = cJSON_IsNumber(cell) ? cell->valuedouble : -1;
    if (v < 0 || v > 4294967295.0 || v != std::floor(v)) return Fail(where, "layer data holds something other than tile numbers");
    gids->push_back(static_cast<uint32_t>(v));
  }
  if (static_cast<int64_t>(gids->size()) != count) {
    return Fail(where, "layer data holds " + std::to_string(gids->size()) + " cells, not " + std::to_string(count));
  }
  return true;
}

bool JsonReader::LayerCommon(const cJSON* o, const TiledLayer& parent, TiledLayer* layer) {
  std::string type, tint;
  if (!String(o, "name", "layer", &layer->name)) return false;
  const std::string where = "layer \"" + layer->name + "\"";
  bool visible = true;  // set by Flag; the initialiser quiets a false warning of some compilers
  double opacity, ox, oy, px, py;
  if (!String(o, "class", where, &layer->className) || !Flag(o, "visible", true, where, &visible) ||
      !Number(o, "opacity", 1, where, &opacity) || !Number(o, "offsetx", 0, where, &ox) ||
      !Number(o, "offsety", 0, where, &oy) || !Number(o, "parallaxx", 1, where, &px) ||
      !Number(o, "parallaxy", 1, where, &py) || !String(o, "tintcolor", where, &tint)) {
    return false;
  }
  layer->visible = parent.visible && visible;
  layer->opacity = parent.opacity * opacity;
  layer->offsetX = parent.offsetX + ox;
  layer->offsetY = parent.offsetY + oy;
  layer->parallaxX = parent.parallaxX * px;
  layer->parallaxY = parent.parallaxY * py;
  uint32_t argb = 0xffffffffu;
  if (!tint.empty() && !ParseTiledColor(tint, &argb)) return Fail(where, "\"tintcolor\" is not a colour");
  const int shifts[4] = {16, 8, 0, 24};
  for (int i = 0; i < 4; ++i) layer->tint[i] = parent.tint[i] * ((argb >> shifts[i]) & 255) / 255.0;
  return Properties(o, where, &layer->properties);
}

bool JsonReader::TileLayer(const cJSON* o, bool infinite, TiledLayer* layer) {
  layer->kind = TiledLayer::kTiles;
  const std::string where = "layer \"" + layer->name + "\"";
  if (!Int(o, "x", 0, -(1 << 30), 1 << 30, where, &layer->x) || !Int(o, "y", 0, -(1 << 30), 1 << 30, where, &layer->y) ||
      !Int(o, "width", 0, 0, 1 << 30, where, &layer->width) || !Int(o, "height", 0, 0, 1 << 30, where, &layer->height)) {
    return false;
  }
  if (!infinite) {
    int64_t count = int64_t{layer->width} * layer->height;
    if (count > kMaxLayerCells || (ctx->totalCells += count) > kMaxTotalCells) return Fail(where, "the layer is too large");
    return Data(o, cJSON_GetObjectItemCaseSensitive(o, "data"), count, where, &layer->gids);
  }
  const cJSON* chunks = cJSON_GetObjectItemCaseSensitive(o, "chunks");
  if (!cJSON_IsArray(chunks)) return Fail(where, "an infinite map's layer has no \"chunks\" list");
  const cJSON* c;
  cJSON_ArrayForEach(c, chunks) {
    TiledChunk chunk;
    if (!Int(c, "x", 0, -(1 << 30), 1 << 30, where, &chunk.x) || !Int(c, "y", 0, -(1 << 30), 1 << 30, where, &chunk.y) ||
        !Int(c, "width", 0, 0, 1 << 16, where, &chunk.width) || !Int(c, "height", 0, 0, 1 << 16, where, &chunk.height)) {
      return false;
    }
    int64_t count = int64_t{chunk.width} * chunk.height;
    if ((ctx->totalCells += count) > kMaxTotalCells) return Fail(where, "the layer is too large");
    if (!Data(o, cJSON_GetObjectItemCaseSensitive(c, "data"), count, where, &chunk.gids)) return false;
    layer->chunks.push_back(std::move(chunk));
  }
  return true;
}

// Reads an object's fields over what *object holds already (a template's
// values, or the defaults): only what the JSON states changes.
bool JsonReader::ObjectFields(const cJSON* j, TiledObject* object) {
  int64_t gid;
  if (!Int(j, "id", object->id, 0, int64_t{1} << 40, "object", &object->id)) return false;
  const std::string at = "object " + std::to_string(object->id);
  std::string className;
  if (!Number(j, "x", object->x, at, &object->x) || !Number(j, "y", object->y, at, &object->y) ||
      !Number(j, "width", object->width, at, &object->width) ||
      !Number(j, "height", object->height, at, &object->height) ||
      !Number(j, "rotation", object->rotation, at, &object->rotation) ||
      !Flag(j, "visible", object->visible, at, &object->visible) ||
      !Int(j, "gid", object->gid, 0, 0xffffffffll, at, &gid) || !String(j, "name", at, &object->name) ||
      !String(j, "type", at, &object->type) || !String(j, "class", at, &className)) {
    return false;
  }
  // Tiled 1.9 wrote an object's class as "class", other versions as "type".
  const cJSON* typeItem = cJSON_GetObjectItemCaseSensitive(j, "type");
  if (!className.empty() && (!typeItem || object->type.empty())) object->type = className;
  object->gid = static_cast<uint32_t>(gid);
  if (object->gid) object->shape = "tile";
  if (cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(j, "ellipse"))) object->shape = "ellipse";
  if (cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(j, "point"))) object->shape = "point";
  for (const char* kind : {"polygon", "polyline"}) {
    const cJSON* points = cJSON_GetObjectItemCaseSensitive(j, kind);
    if (!points) continue;
    if (!cJSON_IsArray(points)) return Fail(at, std::string("\"") + kind + "\" is not a list");
    object->shape = kind;
    object->points.clear();
    const cJSON* p;
    cJSON_ArrayForEach(p, points) {
      double px, py;
      if (!cJSON_IsObject(p) || !Number(p, "x", 0, at, &px) || !Number(p, "y", 0, at, &py)) {
        return Fail(at, "malformed points");
      }
      object->points.emplace_back(px, py);
    }
  }
  if (const cJSON* text = cJSON_GetObjectItemCaseSensitive(j, "text")) {
    object->shape = "text";
    if (!String(text, "text", at, &object->text)) return false;
  }
  // The object's properties replace the template's of the same name.
  std::vector<TiledProperty> own;
  if (!Properties(j, at, &own)) return false;
  for (TiledProperty& p : own) {
    auto same = std::find_if(object->properties.begin(), object->properties.end(),
                             [&](const TiledProperty& q) { return q.name == p.name; });
    if (same != object->properties.end()) *same = std::move(p);
    else object->properties.push_back(std::move(p));
  }
  return true;
}

bool JsonReader::ObjectLayer(const cJSON* o, const std::vector<TiledTileset>& tilesets, TiledLayer* layer) {
  layer->kind = TiledLayer::kObjects;
  const cJSON* objects = cJSON_GetObjectItemCaseSensitive(o, "objects");
  if (objects && !cJSON_IsArray(objects)) return Fail("layer \"" + layer->name + "\"", "\"objects\" is not a list");
  const cJSON* j;
  cJSON_ArrayForEach(j, objects) {
    TiledObject object;
    std::string source;
    if (!Int(j, "id", 0, 0, int64_t{1} << 40, "layer \"" + layer->name + "\" object", &object.id) ||
        !String(j, "template", "object " + std::to_string(object.id), &source)) {
      return false;
    }
    if (!source.empty() && !ApplyTiledTemplate(TiledResolve(basePath, source), tilesets, ctx, &object)) return false;
    if (!ObjectFields(j, &object)) return false;
    if (object.shape == "text") {
      ctx->Warn("object " + std::to_string(object.id) + ": a text object keeps its string and box; its font, "
                "colour and alignment are dropped");
    }
    layer->objects.push_back(std::move(object));
  }
  return true;
}

bool JsonReader::Layers(const cJSON* list, const TiledLayer& group, int depth, TiledMap* map) {
  if (depth > kMaxGroupDepth) return Fail("", "group layers nested too deeply");
  if (!cJSON_IsArray(list)) return Fail("", "\"layers\" is not a list");
  const cJSON* o;
  cJSON_ArrayForEach(o, list) {
    if (!cJSON_IsObject(o)) return Fail("", "a layer is not an object");
    std::string type;
    if (!String(o, "type", "layer", &type)) return false;
    TiledLayer layer;
    if (!LayerCommon(o, group, &layer)) return false;
    if (type == "group") {
      layer.properties.clear();  // a group's own properties are not its children's
      if (!Layers(cJSON_GetObjectItemCaseSensitive(o, "layers"), layer, depth + 1, map)) return false;
      continue;
    }
    if (type == "imagelayer") {
      ctx->Warn("layer \"" + layer.name + "\": image layers are skipped; draw the picture with a tileset of its own");
      continue;
    }
    if (type == "tilelayer") {
      if (!TileLayer(o, map->infinite, &layer)) return false;
    } else if (type == "objectgroup") {
      if (!ObjectLayer(o, map->tilesets, &layer)) return false;
    } else {
      return Fail("layer \"" + layer.name + "\"", "unknown layer type \"" + type + "\"");
    }
    layer.order = static_cast<int>(map->layers.size()) + 1;
    map->layers.push_back(std::move(layer));
  }
  return true;
}

}  // namespace

bool ReadTsj(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledTileset* set) {
  JsonPtr root = ParseJson(bytes);
  if (!root || !cJSON_IsObject(root.get())) return ctx->Fail(path + ": not well-formed JSON");
  JsonReader reader{path, ctx, path};
  uint32_t firstGid = set->firstGid;
  if (!reader.Tileset(root.get(), set)) return false;
  set->firstGid = firstGid;
  return true;
}

bool ReadTmj(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledMap* map) {
  JsonPtr root = ParseJson(bytes);
  if (!root || !cJSON_IsObject(root.get())) return ctx->Fail("not well-formed JSON");
  JsonReader reader{"", ctx, path};
  const cJSON* o = root.get();
  std::string type;
  map->orientation = "orthogonal";
  if (!reader.String(o, "type", "", &type) || !reader.String(o, "orientation", "", &map->orientation) ||
      !reader.Int(o, "width", 0, 0, 1 << 30, "", &map->width) || !reader.Int(o, "height", 0, 0, 1 << 30, "", &map->height) ||
      !reader.Int(o, "tilewidth", 0, 1, 4096, "", &map->tileWidth) ||
      !reader.Int(o, "tileheight", 0, 1, 4096, "", &map->tileHeight) ||
      !reader.Flag(o, "infinite", false, "", &map->infinite) ||
      !reader.String(o, "backgroundcolor", "", &map->backgroundColor) ||
      !reader.String(o, "class", "", &map->className) || !reader.Properties(o, "map", &map->properties)) {
    return false;
  }
  if (type != "map") return reader.Fail("", "not a Tiled map (\"type\": \"map\" expected)");
  if (!cJSON_GetObjectItemCaseSensitive(o, "tilewidth") || !cJSON_GetObjectItemCaseSensitive(o, "tileheight")) {
    return reader.Fail("", "the map has no tile size");
  }
  const cJSON* tilesets = cJSON_GetObjectItemCaseSensitive(o, "tilesets");
  if (tilesets && !cJSON_IsArray(tilesets)) return reader.Fail("", "\"tilesets\" is not a list");
  const cJSON* t;
  cJSON_ArrayForEach(t, tilesets) {
    TiledTileset set;
    int64_t firstGid;
    if (!reader.Int(t, "firstgid", 0, 1, kGidMask, "tileset", &firstGid)) return false;
    set.firstGid = static_cast<uint32_t>(firstGid);
    std::string source;
    if (!reader.String(t, "source", "tileset", &source)) return false;
    if (!source.empty()) {
      if (!ReadExternalTileset(TiledResolve(path, source), ctx, &set)) return false;
    } else if (!reader.Tileset(t, &set)) {
      return false;
    }
    map->tilesets.push_back(std::move(set));
  }
  TiledLayer top;
  const cJSON* layers = cJSON_GetObjectItemCaseSensitive(o, "layers");
  return layers ? reader.Layers(layers, top, 0, map) : true;
}

bool ReadTemplateJson(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx,
                      TiledTemplate* out) {
  JsonPtr root = ParseJson(bytes);
  if (!root || !cJSON_IsObject(root.get())) return ctx->Fail(path + ": not well-formed JSON");
  JsonReader reader{path, ctx, path};
  const cJSON* object = cJSON_GetObjectItemCaseSensitive(root.get(), "object");
  if (!cJSON_IsObject(object)) return reader.Fail("", "not a Tiled object template");
  if (const cJSON* tileset = cJSON_GetObjectItemCaseSensitive(root.get(), "tileset")) {
    int64_t firstGid;
    std::string source;
    if (!reader.Int(tileset, "firstgid", 0, 0, kGidMask, "tileset", &firstGid) ||
        !reader.String(tileset, "source", "tileset", &source)) {
      return false;
    }
    out->firstGid = static_cast<uint32_t>(firstGid);
    out->tilesetPath = TiledResolve(path, source);
  }
  return reader.ObjectFields(object, &out->object);
}
