#include "paths/owner_only_security.h"

#include <stdlib.h>

namespace {

struct OwnerOnlySecurity {
    bool ready;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

OwnerOnlySecurity security;

// The token's user, not CREATOR OWNER, which Wine does not map. The copy is kept.
PSID current_user_sid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    auto* user = static_cast<TOKEN_USER*>(malloc(size));
    const bool ok = user != nullptr && GetTokenInformation(token, TokenUser, user, size, &size);
    CloseHandle(token);
    return ok ? user->User.Sid : nullptr;
}

bool build_owner_only_security() {
    PSID user = current_user_sid();
    if (user == nullptr) return false;
    const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(user);
    auto* acl = static_cast<ACL*>(malloc(acl_size));
    if (acl == nullptr || !InitializeAcl(acl, acl_size, ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, user) ||
        !InitializeSecurityDescriptor(&security.descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&security.descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&security.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return false;
    }
    security.attributes = {sizeof security.attributes, &security.descriptor, FALSE};
    return true;
}

}  // namespace

SECURITY_ATTRIBUTES* owner_only_security() {
    if (!security.ready) security.ready = build_owner_only_security();
    return security.ready ? &security.attributes : nullptr;
}
