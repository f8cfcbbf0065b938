#include "runtime/variant.h"

#include <cstdio>

namespace rt {

Variant Variant::null() {
  Variant v;
  v.value_ = NullValue{};
  return v;
}

Variant Variant::boolean(bool value) {
  Variant v;
  v.value_ = BooleanValue{value};
  return v;
}

Variant Variant::array(Kind elementType, std::vector<Variant> elements) {
  Variant v;
  v.value_ = std::make_shared<const ArrayData>(ArrayData{elementType, true, std::move(elements)});
  return v;
}

Variant Variant::unallocatedArray(Kind elementType) {
  Variant v;
  v.value_ = std::make_shared<const ArrayData>(ArrayData{elementType, false, {}});
  return v;
}

Kind Variant::kind() const {
  static constexpr Kind kinds[] = {Kind::Empty, Kind::Null,    Kind::Integer, Kind::Long,   Kind::Double,
                                   Kind::Date,  Kind::Boolean, Kind::String,    Kind::Object, Kind::Array};
  return kinds[value_.index()];
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() != Kind::Array) return a.value_ == b.value_;
  const ArrayData& x = a.asArray();
  const ArrayData& y = b.asArray();
  return x.elementType == y.elementType && x.allocated == y.allocated && x.elements == y.elements;
}

Variant nameValueList(std::initializer_list<std::pair<TextView, Variant>> entries) {
  if (entries.size() == 0) return emptyList();
  std::vector<Variant> list;
  list.reserve(entries.size() * 2);
  for (const auto& [name, value] : entries) {
    list.emplace_back(name);
    list.push_back(value);
  }
  return Variant::array(std::move(list));
}

Variant emptyList() { return Variant::array({Variant(u"Empty")}); }

namespace {

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::Empty: return "Empty";
    case Kind::Null: return "Null";
    case Kind::Integer: return "Integer";
    case Kind::Long: return "Long";
    case Kind::Double: return "Double";
    case Kind::Date: return "Date";
    case Kind::Boolean: return "Boolean";
    case Kind::String: return "String";
    case Kind::Object: return "Object";
    case Kind::Array: return "Array";
    case Kind::Any: return "Variant";
  }
  return "?";
}

}  // namespace

std::string describe(const Variant& value) {
  std::string out = kindName(value.kind());
  char number[64];
  switch (value.kind()) {
    case Kind::Integer: out.append(" ").append(std::to_string(value.asInteger())); break;
    case Kind::Long: out.append(" ").append(std::to_string(value.asLong())); break;
    case Kind::Double:
      std::snprintf(number, sizeof number, " %.17g", value.asDouble());
      out += number;
      break;
    case Kind::Date:
      std::snprintf(number, sizeof number, " %.17g", value.asDate().value);
      out += number;
      break;
    case Kind::Boolean: out += value.asBoolean() ? " True" : " False"; break;
    case Kind::String: out += " \"" + toUtf8(value.asText()) + "\""; break;
    case Kind::Object: out += value.asObject() ? "" : " Nothing"; break;
    case Kind::Array: {
      const ArrayData& a = value.asArray();
      out += std::string(" of ") + kindName(a.elementType);
      if (!a.allocated) {
        out += " (unallocated)";
        break;
      }
      out += " [";
      for (size_t i = 0; i < a.elements.size(); ++i) out += (i ? ", " : "") + describe(a.elements[i]);
      out += "]";
      break;
    }
    default: break;
  }
  return out;
}

}  // namespace rt
