// Tiled's XML files (.tmx maps, .tsx tilesets) read with expat into a small
// element tree, then into the format-neutral map model. Group layers are
// flattened here: their offsets add up, opacity, tint and parallax multiply,
// and a hidden group hides its children.
#include <expat.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "tools/convert/tiled_model.h"

namespace {

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<std::unique_ptr<XmlElement>> children;
  std::string text;
  int line = 0;

  const std::string* Find(const char* key) const {
    for (const auto& a : attributes) {
      if (a.first == key) return &a.second;
    }
    return nullptr;
  }
  std::string Get(const char* key, const std::string& fallback = "") const {
    const std::string* v = Find(key);
    return v ? *v : fallback;
  }
  const XmlElement* Child(const char* childName) const {
    for (const auto& c : children) {
      if (c->name == childName) return c.get();
    }
    return nullptr;
  }
};

constexpr int kMaxXmlDepth = 200;

struct XmlBuilder {
  std::unique_ptr<XmlElement> root;
  std::vector<XmlElement*> stack;
  XML_Parser parser = nullptr;
  std::string error;
};

void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char** attributes) {
  XmlBuilder* b = static_cast<XmlBuilder*>(user);
  if (b->stack.size() >= kMaxXmlDepth) {
    b->error = "elements nested too deeply";
    XML_StopParser(b->parser, XML_FALSE);
    return;
  }
  auto element = std::make_unique<XmlElement>();
  element->name = name;
  element->line = static_cast<int>(XML_GetCurrentLineNumber(b->parser));
  for (int i = 0; attributes[i]; i += 2) element->attributes.emplace_back(attributes[i], attributes[i + 1]);
  XmlElement* raw = element.get();
  if (b->stack.empty()) {
    b->root = std::move(element);
  } else {
    b->stack.back()->children.push_back(std::move(element));
  }
  b->stack.push_back(raw);
}

void XMLCALL OnEnd(void* user, const XML_Char*) { static_cast<XmlBuilder*>(user)->stack.pop_back(); }

void XMLCALL OnText(void* user, const XML_Char* text, int length) {
  XmlBuilder* b = static_cast<XmlBuilder*>(user);
  if (!b->stack.empty()) b->stack.back()->text.append(text, static_cast<size_t>(length));
}

// The whole document as a tree, or nullptr with *error set.
std::unique_ptr<XmlElement> ParseXml(const std::vector<uint8_t>& bytes, std::string* error) {
  if (bytes.size() > 0x7fffffff) {  // expat takes an int length
    *error = "the file is too large";
    return nullptr;
  }
  XmlBuilder builder;
  builder.parser = XML_ParserCreate(nullptr);
  if (!builder.parser) {
    *error = "out of memory";
    return nullptr;
  }
  XML_SetUserData(builder.parser, &builder);
  XML_SetElementHandler(builder.parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(builder.parser, OnText);
  bool ok = XML_Parse(builder.parser, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                      XML_TRUE) == XML_STATUS_OK;
  if (!ok) {
    *error = builder.error.empty() ? std::string("not well-formed XML (") + XML_ErrorString(XML_GetErrorCode(builder.parser)) + ")"
                                   : builder.error;
    *error = "line " + std::to_string(XML_GetCurrentLineNumber(builder.parser)) + ": " + *error;
  }
  XML_ParserFree(builder.parser);
  if (!ok) return nullptr;
  return std::move(builder.root);
}

// Readers of one XML file: messages carry the file and the element's line.
struct XmlReader {
  std::string file;  // for messages; empty for the map itself: the command names it
  TiledReadContext* ctx;
  std::string basePath;  // the file that relative paths start from

  bool Fail(const XmlElement& e, const std::string& message) {
    return ctx->Fail((file.empty() ? "" : file + ": ") + "line " + std::to_string(e.line) + ": " + message);
  }

  bool Int(const XmlElement& e, const char* key, int64_t fallback, int64_t low, int64_t high, int64_t* value) {
    const std::string* text = e.Find(key);
    if (!text) {
      *value = fallback;
      return true;
    }
    if (!ParseTiledInt(*text, value) || *value < low || *value > high) {
      return Fail(e, "<" + e.name + "> " + key + "=\"" + *text + "\" is not a whole number from " +
                         std::to_string(low) + " to " + std::to_string(high));
    }
    return true;
  }
  bool Int(const XmlElement& e, const char* key, int fallback, int low, int high, int* value) {
    int64_t v;
    if (!Int(e, key, fallback, low, high, &v)) return false;
    *value = static_cast<int>(v);
    return true;
  }
  bool Number(const XmlElement& e, const char* key, double fallback, double* value) {
    const std::string* text = e.Find(key);
    if (!text) {
      *value = fallback;
      return true;
    }
    if (!ParseTiledNumber(*text, value)) return Fail(e, "<" + e.name + "> " + key + "=\"" + *text + "\" is not a number");
    return true;
  }
  bool Flag(const XmlElement& e, const char* key, bool fallback, bool* value) {
    const std::string* text = e.Find(key);
    if (!text) {
      *value = fallback;
      return true;
    }
    if (*text == "1" || *text == "true") *value = true;
    else if (*text == "0" || *text == "false") *value = false;
    else return Fail(e, "<" + e.name + "> " + key + "=\"" + *text + "\" is not 0 or 1");
    return true;
  }

  bool Properties(const XmlElement& e, std::vector<TiledProperty>* out);
  bool Image(const XmlElement& e, TiledImage* image);
  bool Tileset(const XmlElement& e, TiledTileset* set);
  bool Data(const XmlElement& data, int64_t count, std::vector<uint32_t>* gids);
  bool LayerCommon(const XmlElement& e, const TiledLayer& parent, TiledLayer* layer);
  bool TileLayer(const XmlElement& e, bool infinite, TiledLayer* layer);
  bool ObjectFields(const XmlElement& o, TiledObject* object);
  bool ObjectLayer(const XmlElement& e, const std::vector<TiledTileset>& tilesets, TiledLayer* layer);
  bool Layers(const XmlElement& parent, const TiledLayer& group, int depth, TiledMap* map);
};

bool XmlReader::Properties(const XmlElement& e, std::vector<TiledProperty>* out) {
  const XmlElement* list = e.Child("properties");
  if (!list) return true;
  for (const auto& p : list->children) {
    if (p->name != "property") continue;
    TiledProperty prop;
    prop.name = p->Get("name");
    std::string type = p->Get("type", "string");
    const std::string* value = p->Find("value");
    std::string text = value ? *value : p->text;  // multi-line strings live in the element's text
    if (type == "int" || type == "float" || type == "object") {
      prop.kind = TiledProperty::kNumber;
      if (!text.empty() && !ParseTiledNumber(text, &prop.number)) {
        return Fail(*p, "property \"" + prop.name + "\" is not a number");
      }
    } else if (type == "bool") {
      prop.kind = TiledProperty::kBool;
      prop.flag = text == "true" || text == "1";
    } else if (type == "class") {
      prop.kind = TiledProperty::kClass;
      if (!Properties(*p, &prop.members)) return false;
    } else {  // string, color, file: kept as written
      prop.text = text;
    }
    out->push_back(std::move(prop));
  }
  return true;
}

bool XmlReader::Image(const XmlElement& e, TiledImage* image) {
  if (const std::string* trans = e.Find("trans")) {
    uint32_t argb;
    if (!ParseTiledColor(*trans, &argb)) return Fail(e, "<image> trans=\"" + *trans + "\" is not a colour");
    image->hasTrans = true;
    image->trans = argb & 0xffffffu;
  }
  if (const std::string* source = e.Find("source")) {
    if (source->empty()) return Fail(e, "<image> names no file");
    image->path = TiledResolve(basePath, *source);
    return true;
  }
  const XmlElement* data = e.Child("data");
  if (!data || data->Get("encoding") != "base64") return Fail(e, "<image> has neither a file nor base64 data");
  std::string error;
  if (!DecodeTiledBase64(data->text, &image->embedded, &error)) return Fail(*data, "the embedded image: " + error);
  return true;
}

bool XmlReader::Tileset(const XmlElement& e, TiledTileset* set) {
  set->file = basePath;
  set->name = e.Get("name");
  if (!Int(e, "tilewidth", 0, 1, 4096, &set->tileWidth) || !Int(e, "tileheight", 0, 1, 4096, &set->tileHeight) ||
      !Int(e, "spacing", 0, 0, 4096, &set->spacing) || !Int(e, "margin", 0, 0, 4096, &set->margin) ||
      !Int(e, "tilecount", 0, 0, 1 << 28, &set->tileCount) || !Int(e, "columns", 0, 0, 1 << 28, &set->columns)) {
    return false;
  }
  if (!e.Find("tilewidth") || !e.Find("tileheight")) return Fail(e, "the tileset has no tile size");
  if (const XmlElement* offset = e.Child("tileoffset")) {
    if (!Int(*offset, "x", 0, -65536, 65536, &set->offsetX) || !Int(*offset, "y", 0, -65536, 65536, &set->offsetY)) {
      return false;
    }
  }
  if (const XmlElement* image = e.Child("image")) {
    set->hasImage = true;
    if (!Image(*image, &set->image)) return false;
  }
  for (const auto& child : e.children) {
    if (child->name == "wangsets" || child->name == "terraintypes") set->hasWangSets = true;
    if (child->name != "tile") continue;
    TiledTile tile;
    int64_t id;
    if (!Int(*child, "id", -1, 0, kGidMask, &id)) return false;
    if (id < 0) return Fail(*child, "<tile> has no id");
    tile.id = static_cast<uint32_t>(id);
    if (const XmlElement* image = child->Child("image")) {
      tile.hasImage = true;
      if (!Image(*image, &tile.image)) return false;
      if (!Int(*child, "x", 0, 0, 1 << 20, &tile.x) || !Int(*child, "y", 0, 0, 1 << 20, &tile.y) ||
          !Int(*child, "width", -1, 1, 1 << 20, &tile.width) || !Int(*child, "height", -1, 1, 1 << 20, &tile.height)) {
        return false;
      }
    }
    if (const XmlElement* animation = child->Child("animation")) {
      for (const auto& frame : animation->children) {
        if (frame->name != "frame") continue;
        int64_t tileId, duration;
        if (!Int(*frame, "tileid", 0, 0, kGidMask, &tileId) || !Int(*frame, "duration", 0, 0, 0x7fffffff, &duration)) {
          return false;
        }
        tile.frames.emplace_back(static_cast<uint32_t>(tileId), static_cast<int>(duration));
      }
    }
    set->tiles.push_back(std::move(tile));
  }
  return true;
}

bool XmlReader::Data(const XmlElement& data, int64_t count, std::vector<uint32_t>* gids) {
  std::string encoding = data.Get("encoding"), compression = data.Get("compression"), error;
  bool ok;
  if (encoding == "csv") {
    if (!compression.empty()) return Fail(data, "CSV layer data cannot be compressed");
    ok = DecodeTiledCsv(data.text, count, gids, &error);
  } else if (encoding == "base64") {
    ok = DecodeTiledBase64Data(data.text, compression, count, gids, &error);
  } else if (encoding.empty()) {  // one <tile gid="..."/> element per cell
    gids->clear();
    for (const auto& t : data.children) {
      if (t->name != "tile") continue;
      int64_t gid;
      if (!Int(*t, "gid", 0, 0, 0xffffffffll, &gid)) return false;
      if (static_cast<int64_t>(gids->size()) >= count) break;
      gids->push_back(static_cast<uint32_t>(gid));
    }
    ok = static_cast<int64_t>(gids->size()) == count;
    if (!ok) error = "layer data holds " + std::to_string(gids->size()) + " cells, not " + std::to_string(count);
  } else {
    return Fail(data, "unknown layer data encoding \"" + encoding + "\"");
  }
  return ok || Fail(data, error);
}

bool XmlReader::LayerCommon(const XmlElement& e, const TiledLayer& parent, TiledLayer* layer) {
  layer->name = e.Get("name");
  layer->className = e.Get("class", e.Get("type"));
  bool visible;
  double opacity, ox, oy, px, py;
  if (!Flag(e, "visible", true, &visible) || !Number(e, "opacity", 1, &opacity) || !Number(e, "offsetx", 0, &ox) ||
      !Number(e, "offsety", 0, &oy) || !Number(e, "parallaxx", 1, &px) || !Number(e, "parallaxy", 1, &py)) {
    return false;
  }
  layer->visible = parent.visible && visible;
  layer->opacity = parent.opacity * opacity;
  layer->offsetX = parent.offsetX + ox;
  layer->offsetY = parent.offsetY + oy;
  layer->parallaxX = parent.parallaxX * px;
  layer->parallaxY = parent.parallaxY * py;
  uint32_t argb = 0xffffffffu;
  if (const std::string* tint = e.Find("tintcolor")) {
    if (!ParseTiledColor(*tint, &argb)) return Fail(e, "tintcolor=\"" + *tint + "\" is not a colour");
  }
  const int shifts[4] = {16, 8, 0, 24};
  for (int i = 0; i < 4; ++i) layer->tint[i] = parent.tint[i] * ((argb >> shifts[i]) & 255) / 255.0;
  return Properties(e, &layer->properties);
}

bool XmlReader::TileLayer(const XmlElement& e, bool infinite, TiledLayer* layer) {
  layer->kind = TiledLayer::kTiles;
  if (!Int(e, "x", 0, -(1 << 30), 1 << 30, &layer->x) || !Int(e, "y", 0, -(1 << 30), 1 << 30, &layer->y) ||
      !Int(e, "width", 0, 0, 1 << 30, &layer->width) || !Int(e, "height", 0, 0, 1 << 30, &layer->height)) {
    return false;
  }
  const XmlElement* data = e.Child("data");
  if (!data) return Fail(e, "layer \"" + layer->name + "\" has no data");
  if (!infinite) {
    int64_t count = int64_t{layer->width} * layer->height;
    if (count > kMaxLayerCells || (ctx->totalCells += count) > kMaxTotalCells) {
      return Fail(e, "layer \"" + layer->name + "\" is too large");
    }
    return Data(*data, count, &layer->gids);
  }
  for (const auto& c : data->children) {
    if (c->name != "chunk") continue;
    TiledChunk chunk;
    if (!Int(*c, "x", 0, -(1 << 30), 1 << 30, &chunk.x) || !Int(*c, "y", 0, -(1 << 30), 1 << 30, &chunk.y) ||
        !Int(*c, "width", 0, 0, 1 << 16, &chunk.width) || !Int(*c, "height", 0, 0, 1 << 16, &chunk.height)) {
      return false;
    }
    // The chunk inherits the encoding of its <data>.
    XmlElement view;
    view.attributes = data->attributes;
    view.line = c->line;
    view.text = c->text;
    for (const auto& t : c->children) {
      if (t->name == "tile") {
        auto copy = std::make_unique<XmlElement>();
        copy->name = t->name;
        copy->attributes = t->attributes;
        copy->line = t->line;
        view.children.push_back(std::move(copy));
      }
    }
    int64_t count = int64_t{chunk.width} * chunk.height;
    if ((ctx->totalCells += count) > kMaxTotalCells) return Fail(*c, "layer \"" + layer->name + "\" is too large");
    if (!Data(view, count, &chunk.gids)) return false;
    layer->chunks.push_back(std::move(chunk));
  }
  return true;
}

// Reads an object's fields over what *object holds already (a template's
// values, or the defaults): only what the element states changes.
bool XmlReader::ObjectFields(const XmlElement& o, TiledObject* object) {
  int64_t gid;
  if (!Int(o, "id", object->id, 0, int64_t{1} << 40, &object->id) || !Number(o, "x", object->x, &object->x) ||
      !Number(o, "y", object->y, &object->y) || !Number(o, "width", object->width, &object->width) ||
      !Number(o, "height", object->height, &object->height) ||
      !Number(o, "rotation", object->rotation, &object->rotation) ||
      !Flag(o, "visible", object->visible, &object->visible) || !Int(o, "gid", object->gid, 0, 0xffffffffll, &gid)) {
    return false;
  }
  object->gid = static_cast<uint32_t>(gid);
  object->name = o.Get("name", object->name);
  object->type = o.Get("type", o.Get("class", object->type));
  if (object->gid) object->shape = "tile";
  for (const auto& s : o.children) {
    if (s->name == "ellipse" || s->name == "point") object->shape = s->name;
    if (s->name == "polygon" || s->name == "polyline") {
      object->shape = s->name;
      object->points.clear();
      // "x1,y1 x2,y2 ..."
      std::string points = s->Get("points");
      size_t i = 0;
      while (i < points.size()) {
        size_t end = points.find(' ', i);
        if (end == std::string::npos) end = points.size();
        std::string pair = points.substr(i, end - i);
        i = end + 1;
        if (pair.empty()) continue;
        size_t comma = pair.find(',');
        double px, py;
        if (comma == std::string::npos || !ParseTiledNumber(pair.substr(0, comma), &px) ||
            !ParseTiledNumber(pair.substr(comma + 1), &py)) {
          return Fail(*s, "object " + std::to_string(object->id) + ": malformed points");
        }
        object->points.emplace_back(px, py);
      }
    }
    if (s->name == "text") {
      object->shape = "text";
      object->text = s->text;
    }
  }
  // The element's properties replace the template's of the same name.
  std::vector<TiledProperty> own;
  if (!Properties(o, &own)) return false;
  for (TiledProperty& p : own) {
    auto same = std::find_if(object->properties.begin(), object->properties.end(),
                             [&](const TiledProperty& q) { return q.name == p.name; });
    if (same != object->properties.end()) *same = std::move(p);
    else object->properties.push_back(std::move(p));
  }
  return true;
}

bool XmlReader::ObjectLayer(const XmlElement& e, const std::vector<TiledTileset>& tilesets, TiledLayer* layer) {
  layer->kind = TiledLayer::kObjects;
  for (const auto& o : e.children) {
    if (o->name != "object") continue;
    TiledObject object;
    if (!Int(*o, "id", 0, 0, int64_t{1} << 40, &object.id)) return false;
    if (const std::string* source = o->Find("template")) {
      if (!ApplyTiledTemplate(TiledResolve(basePath, *source), tilesets, ctx, &object)) return false;
    }
    if (!ObjectFields(*o, &object)) return false;
    if (object.shape == "text") {
      ctx->Warn("object " + std::to_string(object.id) + ": a text object keeps its string and box; its font, "
                "colour and alignment are dropped");
    }
    layer->objects.push_back(std::move(object));
  }
  return true;
}

bool XmlReader::Layers(const XmlElement& parent, const TiledLayer& group, int depth, TiledMap* map) {
  if (depth > kMaxGroupDepth) return Fail(parent, "group layers nested too deeply");
  for (const auto& e : parent.children) {
    const std::string& kind = e->name;
    if (kind != "layer" && kind != "objectgroup" && kind != "group" && kind != "imagelayer") continue;
    TiledLayer layer;
    if (!LayerCommon(*e, group, &layer)) return false;
    if (kind == "group") {
      layer.properties.clear();  // a group's own properties are not its children's
      if (!Layers(*e, layer, depth + 1, map)) return false;
      continue;
    }
    if (kind == "imagelayer") {
      ctx->Warn("layer \"" + layer.name + "\": image layers are skipped; draw the picture with a tileset of its own");
      continue;
    }
    if (kind == "layer" ? !TileLayer(*e, map->infinite, &layer) : !ObjectLayer(*e, map->tilesets, &layer)) {
      return false;
    }
    layer.order = static_cast<int>(map->layers.size()) + 1;
    map->layers.push_back(std::move(layer));
  }
  return true;
}

}  // namespace

bool ReadTsx(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledTileset* set) {
  std::string error;
  std::unique_ptr<XmlElement> root = ParseXml(bytes, &error);
  if (!root) return ctx->Fail(path + ": " + error);
  XmlReader reader{path, ctx, path};
  if (root->name != "tileset") return reader.Fail(*root, "not a Tiled tileset (<tileset> expected)");
  uint32_t firstGid = set->firstGid;
  if (!reader.Tileset(*root, set)) return false;
  set->firstGid = firstGid;
  return true;
}

bool ReadTmx(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx, TiledMap* map) {
  std::string error;
  std::unique_ptr<XmlElement> root = ParseXml(bytes, &error);
  if (!root) return ctx->Fail(error);
  // Messages about the map itself name no file: the command adds it.
  XmlReader reader{"", ctx, path};
  auto fail = [&](const XmlElement& e, const std::string& message) { return reader.Fail(e, message); };
  if (root->name != "map") return fail(*root, "not a Tiled map (<map> expected)");
  map->orientation = root->Get("orientation", "orthogonal");
  bool ok = reader.Int(*root, "width", 0, 0, 1 << 30, &map->width) &&
            reader.Int(*root, "height", 0, 0, 1 << 30, &map->height) &&
            reader.Int(*root, "tilewidth", 0, 1, 4096, &map->tileWidth) &&
            reader.Int(*root, "tileheight", 0, 1, 4096, &map->tileHeight) &&
            reader.Flag(*root, "infinite", false, &map->infinite);
  if (!ok) return false;
  if (!root->Find("tilewidth") || !root->Find("tileheight")) return fail(*root, "the map has no tile size");
  map->backgroundColor = root->Get("backgroundcolor");
  map->className = root->Get("class");
  if (!reader.Properties(*root, &map->properties)) return false;
  for (const auto& e : root->children) {
    if (e->name != "tileset") continue;
    TiledTileset set;
    int64_t firstGid;
    if (!reader.Int(*e, "firstgid", 0, 1, kGidMask, &firstGid)) return false;
    if (!e->Find("firstgid")) return fail(*e, "a tileset has no firstgid");
    set.firstGid = static_cast<uint32_t>(firstGid);
    if (const std::string* source = e->Find("source")) {
      if (!ReadExternalTileset(TiledResolve(path, *source), ctx, &set)) return false;
    } else if (!reader.Tileset(*e, &set)) {
      return false;
    }
    map->tilesets.push_back(std::move(set));
  }
  TiledLayer top;
  return reader.Layers(*root, top, 0, map);
}

bool ReadExternalTileset(const std::string& path, TiledReadContext* ctx, TiledTileset* set) {
  std::vector<uint8_t> bytes;
  if (!(*ctx->readFile)(path, &bytes)) return ctx->Fail(path + ": cannot read the tileset");
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t' ||
                              bytes[i] == 0xef || bytes[i] == 0xbb || bytes[i] == 0xbf)) {
    ++i;  // spaces and a UTF-8 byte-order mark
  }
  if (i < bytes.size() && bytes[i] == '{') return ReadTsj(path, bytes, ctx, set);
  return ReadTsx(path, bytes, ctx, set);
}

bool ReadTemplateXml(const std::string& path, const std::vector<uint8_t>& bytes, TiledReadContext* ctx,
                     TiledTemplate* out) {
  std::string error;
  std::unique_ptr<XmlElement> root = ParseXml(bytes, &error);
  if (!root) return ctx->Fail(path + ": " + error);
  XmlReader reader{path, ctx, path};
  const XmlElement* object = root->Child("object");
  if (root->name != "template" || !object) return reader.Fail(*root, "not a Tiled object template");
  if (const XmlElement* tileset = root->Child("tileset")) {
    int64_t firstGid;
    if (!reader.Int(*tileset, "firstgid", 0, 0, kGidMask, &firstGid)) return false;
    out->firstGid = static_cast<uint32_t>(firstGid);
    out->tilesetPath = TiledResolve(path, tileset->Get("source"));
  }
  return reader.ObjectFields(*object, &out->object);
}

bool ApplyTiledTemplate(const std::string& path, const std::vector<TiledTileset>& tilesets, TiledReadContext* ctx,
                        TiledObject* object) {
  auto found = ctx->templates.find(path);
  if (found == ctx->templates.end()) {
    std::vector<uint8_t> bytes;
    if (!(*ctx->readFile)(path, &bytes)) return ctx->Fail(path + ": cannot read the object template");
    TiledTemplate read;
    size_t i = 0;
    while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t')) ++i;
    bool ok = i < bytes.size() && bytes[i] == '{' ? ReadTemplateJson(path, bytes, ctx, &read)
                                                  : ReadTemplateXml(path, bytes, ctx, &read);
    if (!ok) return false;
    found = ctx->templates.emplace(path, std::move(read)).first;
  }
  const TiledTemplate& t = found->second;
  const int64_t id = object->id;
  *object = t.object;
  object->id = id;
  const uint32_t local = t.object.gid & kGidMask;
  if (local) {
    // The template counts tiles in its own tileset; the map may number that
    // tileset differently.
    object->gid = 0;
    for (const TiledTileset& set : tilesets) {
      if (set.file == t.tilesetPath && local >= t.firstGid && uint64_t{set.firstGid} + (local - t.firstGid) <= kGidMask) {
        object->gid = (t.object.gid & ~kGidMask) | (set.firstGid + (local - t.firstGid));
      }
    }
    if (!object->gid) {
      object->shape = "rectangle";
      ctx->Warn("object " + std::to_string(id) + ": its template's tileset is not one of the map's; it gets no tile");
    }
  }
  return true;
}
