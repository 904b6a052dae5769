#pragma once
// The component's members by dispatch id. Each group of members lives in
// its own file and adds itself with an Add...Members function.

#include <functional>
#include <map>

#include "p11crypto/component_state.h"
#include "p11crypto/value.h"

namespace p11crypto {

using Member = std::function<Value(ComponentState&, const Args&)>;
using MemberRegistry = std::map<int, Member>;

// A property read: returns the stored result of `dispid`, or `empty`
// before the producing call.
Member ResultReader(int dispid, Value empty = Value::Text({}));

void AddSlotMembers(MemberRegistry& members);         // modules, slots, PINs
void AddCertificateMembers(MemberRegistry& members);  // token certificates, parserX509
void AddSignatureMembers(MemberRegistry& members);    // CMS signatures on text and files
void AddEncryptionMembers(MemberRegistry& members);   // envelopes, key wrapping, symmetric data
void AddEncodingMembers(MemberRegistry& members);     // Base64, hashes, Big5
void AddFileMembers(MemberRegistry& members);         // files and folders
void AddDialogMembers(MemberRegistry& members);       // dialogs the agent shows

const MemberRegistry& AllMembers();

}  // namespace p11crypto
