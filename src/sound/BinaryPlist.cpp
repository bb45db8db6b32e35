#include "sound/BinaryPlist.h"

#include <QStringDecoder>
#include <QtEndian>
#include <cstring>

namespace orvix::plist {
namespace {

constexpr qsizetype kHeaderSize = 8;
constexpr qsizetype kTrailerSize = 32;

uint64_t readBigEndian(const uchar* p, int size) {
    uint64_t value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | p[i];
    return value;
}

class Parser {
public:
    Parser(const QByteArray& data, Document& doc, QString& error)
        : _data(reinterpret_cast<const uchar*>(data.constData())), _size(data.size()), _doc(doc),
          _error(error) {}

    bool run(const Limits& limits);

private:
    bool fail(const char* reason) {
        _error = QString::fromLatin1(reason);
        return false;
    }
    bool readCount(qsizetype& pos, uint8_t low, uint64_t& count);
    bool readObject(uint64_t offset, Object& object);
    bool charge(uint64_t units) {
        if (units > _budget)
            return false;
        _budget -= units;
        return true;
    }

    const uchar* _data;
    qsizetype _size;
    Document& _doc;
    QString& _error;
    int _refSize = 0;
    uint64_t _numObjects = 0;
    uint64_t _objectAreaEnd = 0; // the offset table starts here
    uint64_t _budget = 0;
};

bool Parser::run(const Limits& limits) {
    if (_size > limits.maxFileSize)
        return fail("file too large");
    if (_size < kHeaderSize + 1 + kTrailerSize)
        return fail("file too short");
    if (std::memcmp(_data, "bplist00", 8) != 0)
        return fail("not a binary property list");

    const uchar* trailer = _data + _size - kTrailerSize;
    const int offsetIntSize = trailer[6];
    _refSize = trailer[7];
    _numObjects = readBigEndian(trailer + 8, 8);
    const uint64_t topObject = readBigEndian(trailer + 16, 8);
    const uint64_t offsetTableOffset = readBigEndian(trailer + 24, 8);

    if (offsetIntSize < 1 || offsetIntSize > 8 || _refSize < 1 || _refSize > 8)
        return fail("bad integer sizes in trailer");
    if (_numObjects < 1 || _numObjects > limits.maxObjects)
        return fail("bad object count");
    if (topObject >= _numObjects)
        return fail("top object outside the object table");
    if (offsetTableOffset < static_cast<uint64_t>(kHeaderSize) + 1)
        return fail("offset table overlaps the header");
    // Every reference and every offset must be addressable in its declared size.
    if (_refSize < 8 && (uint64_t(1) << (8 * _refSize)) <= _numObjects)
        return fail("reference size too small for the object count");
    if (offsetIntSize < 8 && (uint64_t(1) << (8 * offsetIntSize)) <= offsetTableOffset)
        return fail("offset size too small for the file");
    // numObjects is bounded above, so this cannot overflow.
    const uint64_t offsetTableSize = _numObjects * static_cast<uint64_t>(offsetIntSize);
    if (offsetTableOffset + offsetTableSize + kTrailerSize != static_cast<uint64_t>(_size))
        return fail("file length does not match the trailer");
    _objectAreaEnd = offsetTableOffset;

    // Decoded content may not exceed what the file could hold without sharing
    // bytes between objects: legitimate writers store each object once.
    _budget = static_cast<uint64_t>(_size);
    if (!charge(_numObjects))
        return fail("object table exceeds the file");

    _doc.objects.clear();
    _doc.objects.resize(_numObjects);
    _doc.top = static_cast<uint32_t>(topObject);
    const uchar* table = _data + offsetTableOffset;
    for (uint64_t i = 0; i < _numObjects; ++i) {
        const uint64_t offset = readBigEndian(table + i * offsetIntSize, offsetIntSize);
        if (offset < static_cast<uint64_t>(kHeaderSize) || offset >= _objectAreaEnd)
            return fail("object offset outside the object area");
        if (!readObject(offset, _doc.objects[i]))
            return false;
    }
    return true;
}

bool Parser::readCount(qsizetype& pos, uint8_t low, uint64_t& count) {
    if (low != 0x0F) {
        count = low;
        return true;
    }
    if (static_cast<uint64_t>(pos) >= _objectAreaEnd)
        return fail("truncated count");
    const uint8_t marker = _data[pos++];
    if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3)
        return fail("bad count marker");
    const int width = 1 << (marker & 0x0F);
    if (static_cast<uint64_t>(pos) + width > _objectAreaEnd)
        return fail("truncated count");
    count = readBigEndian(_data + pos, width);
    pos += width;
    if (width == 8 && static_cast<int64_t>(count) < 0)
        return fail("negative count");
    return true;
}

bool Parser::readObject(uint64_t offset, Object& object) {
    qsizetype pos = static_cast<qsizetype>(offset);
    const uint8_t marker = _data[pos++];
    const uint8_t high = marker >> 4;
    const uint8_t low = marker & 0x0F;
    auto available = [&](uint64_t bytes) {
        return bytes <= _objectAreaEnd && static_cast<uint64_t>(pos) <= _objectAreaEnd - bytes;
    };

    switch (high) {
    case 0x0:
        if (marker == 0x08 || marker == 0x09) {
            object.type = Type::Bool;
            object.boolean = marker == 0x09;
            return true;
        }
        return fail("unsupported simple value");
    case 0x1: {
        if (low > 3)
            return fail("unsupported integer width");
        const int width = 1 << low;
        if (!available(width))
            return fail("truncated integer");
        object.type = Type::Integer;
        // 1-, 2- and 4-byte integers are unsigned, 8-byte ones signed.
        object.integer = static_cast<int64_t>(readBigEndian(_data + pos, width));
        return true;
    }
    case 0x2:
    case 0x3: {
        if ((high == 0x2 && low != 2 && low != 3) || (high == 0x3 && marker != 0x33))
            return fail("unsupported real width");
        const int width = 1 << low;
        if (!available(width))
            return fail("truncated real");
        const uint64_t bits = readBigEndian(_data + pos, width);
        object.type = high == 0x2 ? Type::Real : Type::Date;
        if (width == 4) {
            uint32_t b32 = static_cast<uint32_t>(bits);
            float f;
            std::memcpy(&f, &b32, 4);
            object.real = f;
        } else {
            std::memcpy(&object.real, &bits, 8);
        }
        return true;
    }
    case 0x4:
    case 0x5:
    case 0x6: {
        uint64_t count;
        if (!readCount(pos, low, count))
            return false;
        const uint64_t bytes = high == 0x6 ? count * 2 : count;
        if (count > static_cast<uint64_t>(_size) || !available(bytes))
            return fail("truncated data or string");
        if (!charge(bytes))
            return fail("objects overlap in the file");
        const char* start = reinterpret_cast<const char*>(_data + pos);
        if (high == 0x4) {
            object.type = Type::Data;
            object.bytes = QByteArray(start, static_cast<qsizetype>(bytes));
        } else if (high == 0x5) {
            for (uint64_t i = 0; i < bytes; ++i)
                if (static_cast<uchar>(start[i]) >= 0x80)
                    return fail("non-ASCII byte in an ASCII string");
            object.type = Type::String;
            object.bytes = QByteArray(start, static_cast<qsizetype>(bytes));
        } else {
            QString text(static_cast<qsizetype>(count), Qt::Uninitialized);
            for (uint64_t i = 0; i < count; ++i)
                text[static_cast<qsizetype>(i)] =
                    QChar(static_cast<char16_t>(readBigEndian(_data + pos + 2 * i, 2)));
            object.type = Type::String;
            object.bytes = text.toUtf8();
        }
        return true;
    }
    case 0x8: {
        const int width = low + 1;
        if (width > 8)
            return fail("unsupported UID width");
        if (!available(width))
            return fail("truncated UID");
        object.type = Type::Uid;
        object.integer = static_cast<int64_t>(readBigEndian(_data + pos, width));
        return true;
    }
    case 0xA:
    case 0xD: {
        uint64_t count;
        if (!readCount(pos, low, count))
            return false;
        const uint64_t refs = high == 0xD ? count * 2 : count;
        if (count > static_cast<uint64_t>(_size) || !available(refs * _refSize))
            return fail("truncated container");
        if (!charge(refs))
            return fail("objects overlap in the file");
        object.type = high == 0xA ? Type::Array : Type::Dict;
        object.refs.resize(refs);
        for (uint64_t i = 0; i < refs; ++i) {
            const uint64_t ref = readBigEndian(_data + pos + i * _refSize, _refSize);
            if (ref >= _numObjects)
                return fail("reference outside the object table");
            object.refs[i] = static_cast<uint32_t>(ref);
        }
        return true;
    }
    default:
        return fail("unsupported object type");
    }
}

int byteWidth(uint64_t value) {
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFFull)
        return 4;
    return 8;
}

void appendBigEndian(QByteArray& out, uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void appendMarker(QByteArray& out, uint8_t high, uint64_t count) {
    if (count < 15) {
        out.append(static_cast<char>((high << 4) | count));
        return;
    }
    out.append(static_cast<char>((high << 4) | 0x0F));
    const int width = byteWidth(count);
    out.append(static_cast<char>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3)));
    appendBigEndian(out, count, width);
}

} // namespace

QString Object::utf8ToString(const QByteArray& utf8) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

bool parse(const QByteArray& data, Document& doc, QString& error, const Limits& limits) {
    Parser parser(data, doc, error);
    if (parser.run(limits))
        return true;
    doc.objects.clear();
    doc.objects.shrink_to_fit();
    return false;
}

int64_t Document::dictLookup(const Object& dict, const char* key) const {
    if (dict.type != Type::Dict)
        return -1;
    const size_t n = dict.dictCount();
    const qsizetype keyLength = static_cast<qsizetype>(std::strlen(key));
    for (size_t i = 0; i < n; ++i) {
        const Object& k = objects[dict.refs[i]];
        if (k.type == Type::String && k.bytes.size() == keyLength &&
            std::memcmp(k.bytes.constData(), key, static_cast<size_t>(keyLength)) == 0)
            return dict.refs[n + i];
    }
    return -1;
}

uint32_t Writer::add(Object object, const QByteArray& uniqueKey) {
    if (!uniqueKey.isEmpty()) {
        auto it = _unique.find(uniqueKey.toStdString());
        if (it != _unique.end())
            return it->second;
    }
    const auto ref = static_cast<uint32_t>(_objects.size());
    _objects.push_back(std::move(object));
    if (!uniqueKey.isEmpty())
        _unique.emplace(uniqueKey.toStdString(), ref);
    return ref;
}

uint32_t Writer::addBool(bool value) {
    Object o;
    o.type = Type::Bool;
    o.boolean = value;
    return add(std::move(o), value ? QByteArrayLiteral("b1") : QByteArrayLiteral("b0"));
}

uint32_t Writer::addInteger(int64_t value) {
    Object o;
    o.type = Type::Integer;
    o.integer = value;
    return add(std::move(o), "i" + QByteArray::number(static_cast<qlonglong>(value)));
}

uint32_t Writer::addReal(double value) {
    Object o;
    o.type = Type::Real;
    o.real = value;
    QByteArray key("r");
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
    return add(std::move(o), key);
}

uint32_t Writer::addUid(uint64_t value) {
    Object o;
    o.type = Type::Uid;
    o.integer = static_cast<int64_t>(value);
    return add(std::move(o), "u" + QByteArray::number(static_cast<qulonglong>(value)));
}

uint32_t Writer::addString(const QString& value) {
    Object o;
    o.type = Type::String;
    o.bytes = value.toUtf8();
    QByteArray key = "s" + o.bytes;
    return add(std::move(o), key);
}

uint32_t Writer::addData(const QByteArray& value) {
    Object o;
    o.type = Type::Data;
    o.bytes = value;
    return add(std::move(o), {});
}

uint32_t Writer::addArray(std::vector<uint32_t> elements) {
    Object o;
    o.type = Type::Array;
    o.refs = std::move(elements);
    return add(std::move(o), {});
}

uint32_t Writer::addDict(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
    Object o;
    o.type = Type::Dict;
    o.refs.reserve(entries.size() * 2);
    for (const auto& e : entries)
        o.refs.push_back(e.first);
    for (const auto& e : entries)
        o.refs.push_back(e.second);
    return add(std::move(o), {});
}

QByteArray Writer::finish(uint32_t top) const {
    // Number reachable objects depth-first from the top, children in order.
    std::vector<int64_t> number(_objects.size(), -1);
    std::vector<uint32_t> order;
    std::vector<uint32_t> stack{top};
    while (!stack.empty()) {
        const uint32_t ref = stack.back();
        stack.pop_back();
        if (number[ref] >= 0)
            continue;
        number[ref] = static_cast<int64_t>(order.size());
        order.push_back(ref);
        const auto& refs = _objects[ref].refs;
        for (auto it = refs.rbegin(); it != refs.rend(); ++it)
            if (number[*it] < 0)
                stack.push_back(*it);
    }

    const int refSize = byteWidth(order.size() - 1) == 8 ? 8 : byteWidth(order.size() - 1);
    QByteArray out("bplist00");
    std::vector<uint64_t> offsets;
    offsets.reserve(order.size());
    for (uint32_t ref : order) {
        offsets.push_back(static_cast<uint64_t>(out.size()));
        const Object& o = _objects[ref];
        switch (o.type) {
        case Type::Bool:
            out.append(static_cast<char>(o.boolean ? 0x09 : 0x08));
            break;
        case Type::Integer: {
            const int width = o.integer < 0 ? 8 : byteWidth(static_cast<uint64_t>(o.integer));
            out.append(static_cast<char>(0x10 | (width == 1   ? 0
                                                 : width == 2 ? 1
                                                 : width == 4 ? 2
                                                              : 3)));
            appendBigEndian(out, static_cast<uint64_t>(o.integer), width);
            break;
        }
        case Type::Real:
        case Type::Date: {
            uint64_t bits;
            std::memcpy(&bits, &o.real, 8);
            out.append(static_cast<char>(o.type == Type::Real ? 0x23 : 0x33));
            appendBigEndian(out, bits, 8);
            break;
        }
        case Type::Uid: {
            const int width = byteWidth(static_cast<uint64_t>(o.integer));
            out.append(static_cast<char>(0x80 | (width - 1)));
            appendBigEndian(out, static_cast<uint64_t>(o.integer), width);
            break;
        }
        case Type::Data:
            appendMarker(out, 0x4, static_cast<uint64_t>(o.bytes.size()));
            out.append(o.bytes);
            break;
        case Type::String: {
            bool ascii = true;
            for (char c : o.bytes)
                ascii = ascii && static_cast<uchar>(c) < 0x80;
            if (ascii) {
                appendMarker(out, 0x5, static_cast<uint64_t>(o.bytes.size()));
                out.append(o.bytes);
            } else {
                const QString text = o.text();
                appendMarker(out, 0x6, static_cast<uint64_t>(text.size()));
                for (QChar c : text)
                    appendBigEndian(out, c.unicode(), 2);
            }
            break;
        }
        case Type::Array:
        case Type::Dict:
            appendMarker(out, o.type == Type::Array ? 0xA : 0xD,
                         o.type == Type::Array ? o.refs.size() : o.dictCount());
            for (uint32_t child : o.refs)
                appendBigEndian(out, static_cast<uint64_t>(number[child]), refSize);
            break;
        }
    }
    const auto offsetTableOffset = static_cast<uint64_t>(out.size());
    const int offsetSize = byteWidth(offsetTableOffset);
    for (uint64_t offset : offsets)
        appendBigEndian(out, offset, offsetSize);
    out.append(QByteArray(6, '\0'));
    out.append(static_cast<char>(offsetSize));
    out.append(static_cast<char>(refSize));
    appendBigEndian(out, order.size(), 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, offsetTableOffset, 8);
    return out;
}

} // namespace orvix::plist
