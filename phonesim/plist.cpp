#include "phonesim/plist.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "phonesim/common.h"

namespace phonesim::plist {

const Value* Value::find(std::string_view key) const {
    const Dict* d = get<Dict>();
    if (!d) return nullptr;
    for (const auto& [k, value] : *d)
        if (k == key) return &value;
    return nullptr;
}

// ---------------------------------------------------------------- writer

namespace {

unsigned WidthFor(uint64_t max) {
    if (max <= 0xFF) return 1;
    if (max <= 0xFFFF) return 2;
    if (max <= 0xFFFFFFFFu) return 4;
    return 8;
}

void PutBE(std::vector<uint8_t>& out, uint64_t value, unsigned width) {
    for (unsigned i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutInt(std::vector<uint8_t>& out, int64_t value) {
    if (value < 0) {  // negatives are always eight bytes, two's complement
        out.push_back(0x13);
        PutBE(out, static_cast<uint64_t>(value), 8);
        return;
    }
    const unsigned width = WidthFor(static_cast<uint64_t>(value));
    out.push_back(static_cast<uint8_t>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3)));
    PutBE(out, static_cast<uint64_t>(value), width);
}

void PutMarker(std::vector<uint8_t>& out, uint8_t kind, uint64_t count) {
    if (count < 15) {
        out.push_back(static_cast<uint8_t>(kind | count));
    } else {
        out.push_back(static_cast<uint8_t>(kind | 0x0F));
        PutInt(out, static_cast<int64_t>(count));
    }
}

void PutString(std::vector<uint8_t>& out, const std::string& raw) {
    const std::string text = IsValidUtf8(raw) ? raw : SanitizeUtf8(raw);
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        PutMarker(out, 0x50, text.size());
        out.insert(out.end(), text.begin(), text.end());
        return;
    }
    std::vector<uint16_t> units;
    for (size_t pos = 0; pos < text.size();) {
        const uint32_t cp = DecodeUtf8(text, pos);
        if (cp >= 0x10000) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(cp));
        }
    }
    PutMarker(out, 0x60, units.size());
    for (uint16_t u : units) PutBE(out, u, 2);
}

// Objects in pre-order; containers refer to their children by index.
struct Node {
    const Value* value = nullptr;
    const std::string* key = nullptr;  // a dictionary key, written as a string
    std::vector<uint64_t> children;
};

uint64_t Collect(std::vector<Node>& nodes, const Value& value) {
    const uint64_t index = nodes.size();
    nodes.push_back(Node{&value, nullptr, {}});
    std::vector<uint64_t> children;
    if (const Array* a = value.get<Array>()) {
        for (const Value& item : *a) children.push_back(Collect(nodes, item));
    } else if (const Dict* d = value.get<Dict>()) {
        for (const auto& entry : *d) {
            children.push_back(nodes.size());
            nodes.push_back(Node{nullptr, &entry.first, {}});
        }
        for (const auto& entry : *d) children.push_back(Collect(nodes, entry.second));
    }
    nodes[index].children = std::move(children);
    return index;
}

void Encode(std::vector<uint8_t>& out, const Node& node, unsigned refSize) {
    if (node.key) {
        PutString(out, *node.key);
        return;
    }
    const Value& v = *node.value;
    if (const bool* b = v.get<bool>()) {
        out.push_back(*b ? 0x09 : 0x08);
    } else if (const int64_t* i = v.get<int64_t>()) {
        PutInt(out, *i);
    } else if (const double* d = v.get<double>()) {
        uint64_t bits;
        std::memcpy(&bits, d, sizeof bits);
        out.push_back(0x23);
        PutBE(out, bits, 8);
    } else if (const std::string* s = v.get<std::string>()) {
        PutString(out, *s);
    } else if (const Data* data = v.get<Data>()) {
        PutMarker(out, 0x40, data->size());
        out.insert(out.end(), data->begin(), data->end());
    } else {
        const bool isDict = v.get<Dict>() != nullptr;
        const uint64_t count = isDict ? node.children.size() / 2 : node.children.size();
        PutMarker(out, isDict ? 0xD0 : 0xA0, count);
        for (uint64_t child : node.children) PutBE(out, child, refSize);
    }
}

}  // namespace

std::vector<uint8_t> WriteBinary(const Value& root) {
    std::vector<Node> nodes;
    Collect(nodes, root);
    const unsigned refSize = WidthFor(nodes.size());
    std::vector<uint8_t> out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    offsets.reserve(nodes.size());
    for (const Node& node : nodes) {
        offsets.push_back(out.size());
        Encode(out, node, refSize);
    }
    const uint64_t tableOffset = out.size();
    const unsigned offsetSize = WidthFor(tableOffset);
    for (uint64_t offset : offsets) PutBE(out, offset, offsetSize);
    out.insert(out.end(), 6, 0);  // five unused bytes and the sort version
    out.push_back(static_cast<uint8_t>(offsetSize));
    out.push_back(static_cast<uint8_t>(refSize));
    PutBE(out, nodes.size(), 8);
    PutBE(out, 0, 8);  // the root is the first object
    PutBE(out, tableOffset, 8);
    return out;
}

// ---------------------------------------------------------------- reader

namespace {

constexpr unsigned kMaxDepth = 256;
constexpr uint64_t kMaxNodes = 1u << 20;     // shared references cannot blow up the tree
constexpr uint64_t kMaxBytes = 64u << 20;    // nor the strings and data copied into it

class Reader {
public:
    Reader(const uint8_t* bytes, size_t size) : b_(bytes), n_(size) {}

    std::optional<Value> Run() {
        static const char kMagic[] = "bplist00";
        if (!b_ || n_ < 8 + 1 + 32 || std::memcmp(b_, kMagic, 8) != 0) return std::nullopt;
        const size_t t = n_ - 32;
        offSize_ = b_[t + 6];
        refSize_ = b_[t + 7];
        if (!ValidWidth(offSize_) || !ValidWidth(refSize_)) return std::nullopt;
        uint64_t top = 0;
        if (!Uint(t + 8, 8, count_) || !Uint(t + 16, 8, top) || !Uint(t + 24, 8, table_)) return std::nullopt;
        if (table_ < 9 || table_ > t || count_ == 0 || top >= count_) return std::nullopt;
        if (count_ > (t - table_) / offSize_) return std::nullopt;
        onStack_.assign(static_cast<size_t>(count_), false);
        Value root;
        if (!Parse(top, root, 0)) return std::nullopt;
        return root;
    }

private:
    static bool ValidWidth(unsigned w) { return w == 1 || w == 2 || w == 4 || w == 8; }

    // A big-endian unsigned value of width bytes at pos, inside the input.
    bool Uint(uint64_t pos, unsigned width, uint64_t& out) const {
        if (pos > n_ || width > n_ - pos) return false;
        out = 0;
        for (unsigned i = 0; i < width; ++i) out = (out << 8) | b_[pos + i];
        return true;
    }

    // Object contents must lie between the header and the offset table.
    bool InObjects(uint64_t pos, uint64_t len) const { return pos >= 8 && pos <= table_ && len <= table_ - pos; }

    bool Count(uint64_t& pos, uint8_t marker, uint64_t& count) const {
        count = marker & 0x0F;
        if (count != 0x0F) return true;
        if (!InObjects(pos, 1)) return false;
        const uint8_t intMarker = b_[pos];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return false;
        const unsigned width = 1u << (intMarker & 0x0F);
        if (!InObjects(pos + 1, width) || !Uint(pos + 1, width, count)) return false;
        pos += 1 + width;
        return true;
    }

    bool Spend(uint64_t bytes) {
        if (++nodes_ > kMaxNodes || bytes > kMaxBytes - bytes_) return false;
        bytes_ += bytes;
        return true;
    }

    bool Parse(uint64_t index, Value& out, unsigned depth) {
        if (index >= count_ || depth > kMaxDepth || !Spend(0)) return false;
        uint64_t pos = 0;
        if (!Uint(table_ + index * offSize_, offSize_, pos) || !InObjects(pos, 1)) return false;
        const uint8_t marker = b_[pos++];
        const uint8_t kind = marker & 0xF0;
        switch (kind) {
            case 0x00:
                if (marker == 0x08 || marker == 0x09) {
                    out = Value(marker == 0x09);
                    return true;
                }
                return false;
            case 0x10: return ParseInt(pos, marker, out);
            case 0x20: return ParseReal(pos, marker, out);
            case 0x40: {
                uint64_t len = 0;
                if (!Count(pos, marker, len) || !InObjects(pos, len) || !Spend(len)) return false;
                out = Value(Data(b_ + pos, b_ + pos + len));
                return true;
            }
            case 0x50:
            case 0x60: {
                std::string text;
                if (!ParseString(pos, marker, text)) return false;
                out = Value(std::move(text));
                return true;
            }
            case 0xA0:
            case 0xD0: return ParseContainer(index, pos, marker, out, depth);
            default: return false;  // null, fill, dates, uids, sets: not in our documents
        }
    }

    bool ParseInt(uint64_t pos, uint8_t marker, Value& out) const {
        const unsigned log = marker & 0x0F;
        if (log > 4) return false;
        uint64_t value = 0;
        if (log == 4) {  // sixteen bytes: only values that fit a signed 64-bit integer
            uint64_t high = 0;
            if (!InObjects(pos, 16) || !Uint(pos, 8, high) || !Uint(pos + 8, 8, value)) return false;
            if (high != 0 || value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        } else {
            const unsigned width = 1u << log;
            if (!InObjects(pos, width) || !Uint(pos, width, value)) return false;
        }
        out = Value(static_cast<int64_t>(value));  // eight bytes are two's complement
        return true;
    }

    bool ParseReal(uint64_t pos, uint8_t marker, Value& out) const {
        uint64_t bits = 0;
        if (marker == 0x22) {
            if (!InObjects(pos, 4) || !Uint(pos, 4, bits)) return false;
            const uint32_t small = static_cast<uint32_t>(bits);
            float f;
            std::memcpy(&f, &small, sizeof f);
            out = Value(static_cast<double>(f));
            return true;
        }
        if (marker != 0x23 || !InObjects(pos, 8) || !Uint(pos, 8, bits)) return false;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        out = Value(d);
        return true;
    }

    bool ParseString(uint64_t pos, uint8_t marker, std::string& text) {
        uint64_t count = 0;
        if (!Count(pos, marker, count)) return false;
        if ((marker & 0xF0) == 0x50) {
            if (!InObjects(pos, count) || !Spend(count)) return false;
            for (uint64_t i = 0; i < count; ++i)
                if (b_[pos + i] >= 0x80) return false;  // ASCII strings hold ASCII only
            text.assign(reinterpret_cast<const char*>(b_ + pos), static_cast<size_t>(count));
            return true;
        }
        if (count > table_ / 2 || !InObjects(pos, count * 2) || !Spend(count * 3)) return false;
        for (uint64_t i = 0; i < count; ++i) {
            uint32_t unit = static_cast<uint32_t>(b_[pos + 2 * i] << 8 | b_[pos + 2 * i + 1]);
            if (unit >= 0xDC00 && unit <= 0xDFFF) return false;  // a low surrogate first
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (++i >= count) return false;
                const uint32_t low = static_cast<uint32_t>(b_[pos + 2 * i] << 8 | b_[pos + 2 * i + 1]);
                if (low < 0xDC00 || low > 0xDFFF) return false;
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            }
            AppendUtf8(text, unit);
        }
        return true;
    }

    bool Ref(uint64_t pos, uint64_t& ref) const { return InObjects(pos, refSize_) && Uint(pos, refSize_, ref); }

    bool ParseContainer(uint64_t index, uint64_t pos, uint8_t marker, Value& out, unsigned depth) {
        uint64_t count = 0;
        if (!Count(pos, marker, count)) return false;
        const bool isDict = (marker & 0xF0) == 0xD0;
        const uint64_t refs = isDict ? 2 : 1;
        if (count > table_ / refSize_ / refs || !InObjects(pos, count * refs * refSize_)) return false;
        if (onStack_[index]) return false;  // a container that contains itself
        onStack_[index] = true;
        bool ok = true;
        if (isDict) {
            Dict dict;
            for (uint64_t i = 0; ok && i < count; ++i) {
                uint64_t keyRef = 0, valueRef = 0;
                Value key, value;
                ok = Ref(pos + i * refSize_, keyRef) && Ref(pos + (count + i) * refSize_, valueRef) &&
                     Parse(keyRef, key, depth + 1) && key.get<std::string>() && Parse(valueRef, value, depth + 1);
                if (ok) dict.emplace_back(std::move(*std::get_if<std::string>(&key.v)), std::move(value));
            }
            if (ok) out = Value(std::move(dict));
        } else {
            Array array;
            for (uint64_t i = 0; ok && i < count; ++i) {
                uint64_t ref = 0;
                Value item;
                ok = Ref(pos + i * refSize_, ref) && Parse(ref, item, depth + 1);
                if (ok) array.push_back(std::move(item));
            }
            if (ok) out = Value(std::move(array));
        }
        onStack_[index] = false;
        return ok;
    }

    const uint8_t* b_;
    size_t n_;
    unsigned offSize_ = 0, refSize_ = 0;
    uint64_t count_ = 0, table_ = 0;
    std::vector<bool> onStack_;
    uint64_t nodes_ = 0, bytes_ = 0;
};

void JsonString(std::string& out, std::string_view raw) {
    const std::string text = IsValidUtf8(raw) ? std::string(raw) : SanitizeUtf8(raw);
    out += '"';
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    out += '"';
}

void Json(std::string& out, const Value& v) {
    if (const bool* b = v.get<bool>()) {
        out += *b ? "true" : "false";
    } else if (const int64_t* i = v.get<int64_t>()) {
        out += std::to_string(*i);
    } else if (const double* d = v.get<double>()) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", *d);
        out += std::isfinite(*d) ? text : "null";
    } else if (const std::string* s = v.get<std::string>()) {
        JsonString(out, *s);
    } else if (const Data* data = v.get<Data>()) {
        static const char kHex[] = "0123456789abcdef";
        out += "{\"data\":\"";
        for (uint8_t byte : *data) {
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
        out += "\"}";
    } else if (const Array* a = v.get<Array>()) {
        out += '[';
        for (size_t i = 0; i < a->size(); ++i) {
            if (i) out += ',';
            Json(out, (*a)[i]);
        }
        out += ']';
    } else if (const Dict* d = v.get<Dict>()) {
        out += '{';
        for (size_t i = 0; i < d->size(); ++i) {
            if (i) out += ',';
            JsonString(out, (*d)[i].first);
            out += ':';
            Json(out, (*d)[i].second);
        }
        out += '}';
    }
}

}  // namespace

std::optional<Value> ReadBinary(const uint8_t* bytes, size_t size) {
    try {
        return Reader(bytes, size).Run();
    } catch (...) {  // allocation failure: malformed as far as the caller is concerned
        return std::nullopt;
    }
}

std::string ToJson(const Value& value) {
    std::string out;
    Json(out, value);
    return out;
}

}  // namespace phonesim::plist
