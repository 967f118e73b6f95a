// The floor of a whole run under Wine: a Windows program of the same kind as the scheduler (32-bit,
// windows subsystem, static runtime) that makes the system calls an RBTASSESS run with nothing
// due cannot do without, and nothing else: the process walk of the copy count, COM with its
// security and the WMI query of the first up-time method, the registry opens and reads of the
// agent key, the product name and the reboot-required flag, and the INI reads of the agent's files.
// The ratio of a run to this floor is what the program adds to the work it must have the system do.
//
//   reference_work.exe INSTALL_FOLDER DATA_FOLDER     (both end with '\')
#include <windows.h>
// After windows.h:
#include <objbase.h>
#include <tlhelp32.h>
#include <wbemidl.h>

#include <string>

namespace {

std::string RegText(HKEY root, const char* path, REGSAM access, const char* name) {
    HKEY key = nullptr;
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    if (RegOpenKeyExA(root, path, 0, access, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
    }
    return buffer;
}

std::string Ini(const std::string& file, const char* section, const char* key) {
    char buffer[256] = {};
    GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, file.c_str());
    return buffer;
}

// The number of objects a query gives, each object's first property read as the program reads it.
int Query(IWbemServices* service, const wchar_t* wql, const wchar_t* property) {
    IEnumWbemClassObject* objects = nullptr;
    BSTR language = SysAllocString(L"WQL");
    BSTR text = SysAllocString(wql);
    HRESULT result = service->ExecQuery(
        language, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &objects);
    SysFreeString(language);
    SysFreeString(text);
    if (FAILED(result)) return -1;
    CoSetProxyBlanket(objects, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, nullptr,
                      RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    int count = 0;
    for (;;) {
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        if (objects->Next(WBEM_INFINITE, 1, &object, &returned) != WBEM_S_NO_ERROR || returned == 0)
            break;
        VARIANT value;
        VariantInit(&value);
        object->Get(property, 0, &value, nullptr, nullptr);
        VariantClear(&value);
        object->Release();
        ++count;
    }
    objects->Release();
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string install = argv[1];
    const std::string data = argv[2];

    // The running copies, counted by name.
    int copies = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            copies += lstrcmpiA(entry.szExeFile, "RebootScheduler.exe") == 0;
        }
        CloseHandle(snapshot);
    }

    // The agent key in the program's own view, the operating system's facts in the 64-bit view.
    int found = 0;
    for (const char* name : {"RegID", "InstallationPath", "SiteID", "MemberID", "Type"}) {
        found += !RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\VERUZE", KEY_READ, name).empty();
    }
    found += !RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                      KEY_READ | KEY_WOW64_64KEY, "ProductName")
                  .empty();
    HKEY flag = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto "
                      "Update\\RebootRequired",
                      0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &flag) == ERROR_SUCCESS) {
        RegCloseKey(flag);
    }

    // The agent's files (an opt-in may be missing: read, not counted).
    Ini(install + "BaseComponents\\PatchManagement\\SchPatch.ini", "SchTime", "Win10Optin");
    found += !Ini(install + "BaseComponents\\PatchManagement\\ScanFld\\PatchScanDate.ini",
                  "ScandateTime", "LastScandate")
                  .empty();
    for (const char* key : {"RBTPENDinRegistry", "PendingWPM", "Pending"}) {
        Ini(data + "Bellhop_SYSTEM.ini", "RebootStatus", key);
    }

    // COM and WMI, as the first up-time method reaches them.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    IWbemLocator* locator = nullptr;
    int objects = -1;
    if (SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWbemLocator, reinterpret_cast<void**>(&locator)))) {
        IWbemServices* service = nullptr;
        BSTR resource = SysAllocString(L"\\\\.\\root\\CIMV2");
        if (SUCCEEDED(locator->ConnectServer(resource, nullptr, nullptr, nullptr, 0, nullptr,
                                             nullptr, &service))) {
            CoSetProxyBlanket(service, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, nullptr,
                              RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                              EOAC_NONE);
            objects = Query(service, L"SELECT * FROM Win32_OperatingSystem", L"LastBootUpTime");
            service->Release();
        }
        SysFreeString(resource);
        locator->Release();
    }
    CoUninitialize();
    // Exit code 0 only when the work was really done: the agent's five values, the product name
    // and the last scan date found, the operating system object answered, and no copy of the
    // scheduler running.
    return found >= 7 && objects == 1 && copies == 0 ? 0 : 1;
}
