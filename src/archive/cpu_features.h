// Instruction-set extensions the decoders and the CRC use where the processor has
// them. The program is built for the baseline of its target (i686 for the shipped
// Windows program), so these paths are compiled with function target attributes
// and chosen at run time.
#pragma once

namespace archive {

struct TCpuFeatures {
  bool bmi2 = false;       // shifts and masks by a variable count (the inflater's hot loop)
  bool clmul = false;      // carry-less multiplication, with SSE2 (CRC-32 folding)
  bool wideClmul = false;  // the same on 256-bit registers: VPCLMULQDQ with AVX2
};

// What this processor offers, asked once. Tests switch features off to run the
// baseline paths on any machine; nothing else writes it.
TCpuFeatures& CpuFeatures();

}  // namespace archive
