#include "request/field_map.h"

#include <httplib.h>

namespace vorlink {

FieldMap TakeFieldMap(const httplib::Request& request) {
  if (!request.params.empty()) return FieldMap(request.params.begin(), request.params.end());
  httplib::Params decoded;
  httplib::detail::parse_query_text(request.body, decoded);
  return FieldMap(decoded.begin(), decoded.end());
}

const std::string* FirstField(const FieldMap& fields, const std::string& key) {
  auto it = fields.find(key);
  return it == fields.end() ? nullptr : &it->second;
}

}  // namespace vorlink
