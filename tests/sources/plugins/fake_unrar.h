// A RAR library for tests: the members, flags, password and failures each test sets.
#pragma once

#include <wchar.h>

extern "C" {

struct FakeRarMember {
  const char* name;
  unsigned size;          // announced unpacked size
  unsigned delivered;     // bytes actually handed to the callback
  int encrypted;          // asks for the password before delivering
  unsigned sizeHigh;      // high 32 bits of the announced size
  const unsigned char* bytes = nullptr;  // what is delivered; null for fakeRarByte's pattern
};

struct FakeRarSetup {
  unsigned flags;             // archive flags for every volume but the first
  unsigned firstVolumeFlags;  // archive flags when the name ends in "part1.rar"
  int failOpen;
  int memberCount;
  FakeRarMember members[16];
  const wchar_t* password;    // what encrypted members need
  int missingVolumeAt;        // member whose data runs into a missing volume, or -1
};

struct FakeRarLog {
  int opens;
  int passwordRequests;
  int volumeRequests;
  wchar_t lastOpened[1024];
};

typedef void (*FakeRarSetupFunction)(const FakeRarSetup*);
typedef const FakeRarLog* (*FakeRarLogFunction)();

// Byte k of member m: what the tests expect to get back.
inline unsigned char fakeRarByte(int member, unsigned k) { return static_cast<unsigned char>(k * 3 + member); }
}
