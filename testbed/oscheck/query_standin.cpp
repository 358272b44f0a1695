// A stand-in for the encryption product's query library: GetDriveNoByGUID knows one volume
// identifier, answers 0 and drive number 7 ("H") for it, and 1 for any other.
#include <cwchar>

namespace {

constexpr const wchar_t* kKnownVolume = L"{6F1D2C3B-5A49-4E87-9D10-0123456789AB}";
constexpr unsigned long kKnownDriveNumber = 7;
constexpr unsigned long kUnknownVolume = 1;

}  // namespace

extern "C" __declspec(dllexport) unsigned long __stdcall GetDriveNoByGUID(const wchar_t* volumeId,
                                                                       unsigned long* driveNumber) {
  if (volumeId == nullptr || driveNumber == nullptr || std::wcscmp(volumeId, kKnownVolume) != 0) {
    return kUnknownVolume;
  }
  *driveNumber = kKnownDriveNumber;
  return 0;
}
