#pragma once
// The form fields of one request: key -> value, both raw bytes, sorted by key
// with equal keys in arrival order.

#include <map>
#include <string>

namespace httplib {
struct Request;
}

namespace vorlink {

using FieldMap = std::multimap<std::string, std::string>;

// The request's parameter map when it has one (query string, or a body the
// server decoded as a form); otherwise the body decoded as query text,
// whatever its content type, so that pages may post a form as plain text.
FieldMap TakeFieldMap(const httplib::Request& request);

// The first value stored under `key`, or nullptr.
const std::string* FirstField(const FieldMap& fields, const std::string& key);

}  // namespace vorlink
