#include "request/field_map.h"

#include <httplib.h>

namespace vorlink {

FieldMap TakeFieldMap(const httplib::Request& request) {
  if (!request.params.empty()) return FieldMap(request.params.begin(), request.params.end());
  FieldMap decoded;  // the library's own parameter map type, filled in place
  httplib::detail::parse_query_text(request.body, decoded);
  return decoded;
}

const std::string* FirstField(const FieldMap& fields, const std::string& key) {
  auto it = fields.find(key);
  return it == fields.end() ? nullptr : &it->second;
}

}  // namespace vorlink
