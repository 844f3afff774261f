// registry_api_test.cpp - RegOpenKeyExW, RegQueryValueExW and RegCloseKey
// against the root's registry.reg.
#include "temp_root.h"

#include "coredll.h"
#include "platform_names.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

class RegistryApi : public TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        WriteFile(InRoot("registry.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Pack]\r\n"
                                          "\"CabFile\"=\"\\\\cab\"\r\n"
                                          "\"Flags\"=dword:00000003\r\n");
    }

    HKEY Open(const char16_t *sub_key, HKEY root = HKEY_LOCAL_MACHINE)
    {
        HKEY key = nullptr;
        return RegOpenKeyExW(root, sub_key, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ? key
                                                                                      : nullptr;
    }
};

TEST_F(RegistryApi, OpensOnlyKeysThatExist)
{
    HKEY key = Open(u"software\\APPS\\pack");
    ASSERT_NE(key, nullptr);
    HKEY parent = Open(u"SOFTWARE\\Apps"); // a parent exists with its subkey
    ASSERT_NE(parent, nullptr);
    HKEY child = Open(u"Pack", parent);
    EXPECT_NE(child, nullptr);
    EXPECT_EQ(Open(u"SOFTWARE\\Apps\\Other"), nullptr);
    EXPECT_EQ(Open(u"SOFTWARE\\Ap"), nullptr);
    HKEY dummy = nullptr;
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, 0, &dummy),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApi, MissingOrHeaderlessFileIsAnEmptyRegistry)
{
    WriteFile(InRoot("registry.reg"), "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Pack]\r\n");
    EXPECT_EQ(Open(u"SOFTWARE\\Apps\\Pack"), nullptr);
    ASSERT_EQ(unlink(InRoot("registry.reg").c_str()), 0);
    EXPECT_EQ(Open(u"SOFTWARE\\Apps\\Pack"), nullptr);
}

TEST_F(RegistryApi, RegistryFileNameMatchesIgnoringCase)
{
    ASSERT_EQ(rename(InRoot("registry.reg").c_str(), InRoot("Registry.REG").c_str()), 0);
    HKEY key = Open(u"SOFTWARE\\Apps\\Pack");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryApi, RegistryFileIsReadOnlyInsideTheRoot)
{
    // A registry.reg link leading out of the root is resolved inside it.
    ASSERT_EQ(unlink(InRoot("registry.reg").c_str()), 0);
    WriteFile(Outside("registry.reg"), "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Outside]\n");
    MakeLink(Outside("registry.reg"), InRoot("registry.reg"));
    EXPECT_EQ(Open(u"Outside"), nullptr);
}

TEST_F(RegistryApi, QueryReportsTypeSizeAndData)
{
    HKEY key = Open(u"SOFTWARE\\Apps\\Pack");
    ASSERT_NE(key, nullptr);
    DWORD type = 0;
    DWORD size = 0;
    // Size only.
    EXPECT_EQ(RegQueryValueExW(key, u"cabfile", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_EQ(size, 10u); // "\cab" and its NUL

    // Too small: nothing written, the size needed given back.
    BYTE buffer[16];
    std::memset(buffer, 0xEE, sizeof(buffer));
    size = 6;
    EXPECT_EQ(RegQueryValueExW(key, u"CabFile", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buffer[0], 0xEE);

    size = sizeof(buffer);
    EXPECT_EQ(RegQueryValueExW(key, u"CabFile", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(buffer)), u"\\cab");
    EXPECT_EQ(buffer[8], 0);
    EXPECT_EQ(buffer[9], 0);
    EXPECT_EQ(buffer[10], 0xEE);

    size = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"Flags", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD{REG_DWORD});
    EXPECT_EQ(buffer[0], 3);

    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"CabFile", nullptr, &type, buffer, &size),
              ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApi, OpenKeysAreLimitedAndSlotsComeBack)
{
    std::vector<HKEY> open;
    for (HKEY key = Open(u"SOFTWARE"); key != nullptr; key = Open(u"SOFTWARE")) {
        open.push_back(key);
        ASSERT_LT(open.size(), 1000u);
    }
    EXPECT_EQ(open.size(), 16u);
    EXPECT_EQ(RegCloseKey(open.back()), ERROR_SUCCESS);
    open.pop_back();
    HKEY again = Open(u"SOFTWARE");
    ASSERT_NE(again, nullptr);
    open.push_back(again);
    for (HKEY key : open) {
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
}

} // namespace
