#pragma once

#include "platform/com/unknown.h"

// {6F1C2B84-0D5E-4A7B-9C36-41E8A2D7B5F0}
inline constexpr IID IID_IWeakReference{
    0x6F1C2B84, 0x0D5E, 0x4A7B, {0x9C, 0x36, 0x41, 0xE8, 0xA2, 0xD7, 0xB5, 0xF0}};
// {B3D84E17-5A29-4C6F-8E02-7F91C4A6D3B8}
inline constexpr IID IID_IWeakReferenceSource{
    0xB3D84E17, 0x5A29, 0x4C6F, {0x8E, 0x02, 0x7F, 0x91, 0xC4, 0xA6, 0xD3, 0xB8}};

// A reference that does not keep its object alive. Resolving it never
// brings back an object whose last reference is already gone, so it is safe
// against the object being released on another thread at the same moment;
// a raw pointer kept "weakly" is not.
struct IWeakReference : IUnknown {
  // The object's interface `iid` with a reference; E_FAIL (and null) once
  // the object is gone.
  virtual HRESULT STDMETHODCALLTYPE Resolve(REFIID iid, void** object) = 0;

 protected:
  ~IWeakReference() = default;
};

// Offered by objects that others may refer to weakly.
struct IWeakReferenceSource : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference** weak) = 0;

 protected:
  ~IWeakReferenceSource() = default;
};
