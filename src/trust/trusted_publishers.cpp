#include "trust/trusted_publishers.h"

// cmake/signing.cmake reads the first two entries from this file to name the
// test signers, so keep one L"..." literal per line and ASCII at the top.
TrustedPublisherList TrustedPublishers() {
  static constexpr const wchar_t* kNames[] = {
      L"Halvorsen Lattice Software AS",
      L"Brightmoor Data Instruments Ltd.",
      L"Quillfeather Networks GmbH",
      L"Osterling & Varga Systems Kft.",
      L"Cobaltreach Digital Co., Ltd.",
      L"Marrowfield Software Inc.",
      L"Tessaline Communications B.V.",
      L"Kestrelwood Technologies LLC",
      L"Ardent Pillar Software Oy",
      L"Silverfen Media Labs S.r.l.",
      L"Junipero Relay Systems S.A.",
      L"Ravensholt Interactive ApS",
      L"Lumen Quay Software Pty Ltd",
      L"Tideglass Network Services Ltd.",
      L"Vantorre Informatique SAS",
      L"Hollowcrest Digital Works Inc.",
      L"Penhallow Stone Software Ltd.",
      L"Cindervale Systems Corporation",
      L"Meridian Vltava Software s.r.o.",
      L"Wrenfield Applied Computing Inc.",
      L"Saltmarsh Code Foundry Ltd.",
      // Precomposed u-umlaut (U+00FC): the comparison does no normalisation,
      // so a signer writing it decomposed is a different publisher.
      L"M\u00fcllerhof Signaltechnik GmbH",
      L"Amberlight Transit Software K.K.",
      L"Yellowpine Secure Delivery Co.",
  };
  return {kNames, sizeof(kNames) / sizeof(kNames[0])};
}
