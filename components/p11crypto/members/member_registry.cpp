#include "p11crypto/members/member_registry.h"

namespace p11crypto {

Member ResultReader(int dispid, Value empty) {
  return [dispid, empty](ComponentState& state, const Args&) {
    const auto found = state.results.find(dispid);
    return found == state.results.end() ? empty : found->second;
  };
}

const MemberRegistry& AllMembers() {
  static const MemberRegistry members = [] {
    MemberRegistry all;
    AddSlotMembers(all);
    AddCertificateMembers(all);
    AddSignatureMembers(all);
    AddEncryptionMembers(all);
    AddEncodingMembers(all);
    AddFileMembers(all);
    AddDialogMembers(all);
    all[11] = [](ComponentState& state, const Args&) { return Value::Text(state.error_message); };  // get_getErrorMsg
    return all;
  }();
  return members;
}

}  // namespace p11crypto
