#include "files/owner_only_security.h"

#include <stdlib.h>

namespace {

// advapi32 is looked up when the first descriptor is built rather than imported: loading it
// brings sechost and msvcrt into every process, while only a parent run's file creation needs
// it. A child run never loads it.
struct SecurityFunctions {
    decltype(&OpenProcessToken) open_process_token;
    decltype(&GetTokenInformation) get_token_information;
    decltype(&GetLengthSid) get_length_sid;
    decltype(&InitializeAcl) initialize_acl;
    decltype(&AddAccessAllowedAceEx) add_access_allowed_ace_ex;
    decltype(&InitializeSecurityDescriptor) initialize_security_descriptor;
    decltype(&SetSecurityDescriptorDacl) set_security_descriptor_dacl;
    decltype(&SetSecurityDescriptorControl) set_security_descriptor_control;
    decltype(&GetKernelObjectSecurity) get_kernel_object_security;
    decltype(&GetSecurityDescriptorDacl) get_security_descriptor_dacl;
    decltype(&GetAce) get_ace;
    decltype(&EqualSid) equal_sid;
    decltype(&IsWellKnownSid) is_well_known_sid;
};

template <typename Function>
bool look_up(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

bool load_security_functions(SecurityFunctions& f) {
    HMODULE advapi = LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return advapi != nullptr && look_up(advapi, "OpenProcessToken", f.open_process_token) &&
           look_up(advapi, "GetTokenInformation", f.get_token_information) &&
           look_up(advapi, "GetLengthSid", f.get_length_sid) && look_up(advapi, "InitializeAcl", f.initialize_acl) &&
           look_up(advapi, "AddAccessAllowedAceEx", f.add_access_allowed_ace_ex) &&
           look_up(advapi, "InitializeSecurityDescriptor", f.initialize_security_descriptor) &&
           look_up(advapi, "SetSecurityDescriptorDacl", f.set_security_descriptor_dacl) &&
           look_up(advapi, "SetSecurityDescriptorControl", f.set_security_descriptor_control) &&
           look_up(advapi, "GetKernelObjectSecurity", f.get_kernel_object_security) &&
           look_up(advapi, "GetSecurityDescriptorDacl", f.get_security_descriptor_dacl) &&
           look_up(advapi, "GetAce", f.get_ace) && look_up(advapi, "EqualSid", f.equal_sid) &&
           look_up(advapi, "IsWellKnownSid", f.is_well_known_sid);
}

struct OwnerOnlySecurity {
    bool ready;
    SecurityFunctions functions;
    PSID user;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

OwnerOnlySecurity security;

// The token's user, not CREATOR OWNER, which Wine does not map. The copy is kept.
PSID current_user_sid(const SecurityFunctions& f) {
    HANDLE token = nullptr;
    if (!f.open_process_token(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    f.get_token_information(token, TokenUser, nullptr, 0, &size);
    auto* user = static_cast<TOKEN_USER*>(malloc(size));
    const bool ok = user != nullptr && f.get_token_information(token, TokenUser, user, size, &size);
    CloseHandle(token);
    return ok ? user->User.Sid : nullptr;
}

bool build_owner_only_security() {
    SecurityFunctions& f = security.functions;
    if (!load_security_functions(f)) return false;
    PSID user = current_user_sid(f);
    if (user == nullptr) return false;
    security.user = user;
    const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + f.get_length_sid(user);
    auto* acl = static_cast<ACL*>(malloc(acl_size));
    if (acl == nullptr || !f.initialize_acl(acl, acl_size, ACL_REVISION) ||
        !f.add_access_allowed_ace_ex(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                                     user) ||
        !f.initialize_security_descriptor(&security.descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !f.set_security_descriptor_dacl(&security.descriptor, TRUE, acl, FALSE) ||
        !f.set_security_descriptor_control(&security.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
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

bool has_owner_only_security(HANDLE file) {
    if (owner_only_security() == nullptr) return false;
    const SecurityFunctions& f = security.functions;
    alignas(8) unsigned char bytes[4096];
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(bytes);
    DWORD needed = 0;
    if (!f.get_kernel_object_security(file, DACL_SECURITY_INFORMATION, descriptor, sizeof bytes, &needed)) return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    // A missing DACL, or a null one, lets everybody in.
    if (!f.get_security_descriptor_dacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
        return false;
    }
    bool user_allowed = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!f.get_ace(dacl, i, &entry)) return false;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (f.equal_sid(sid, security.user)) {
            user_allowed = true;
        } else if (!f.is_well_known_sid(sid, WinLocalSystemSid)) {
            return false;
        }
    }
    return user_allowed;
}
