// Keeps the engine library non-empty until its first real source lands.
namespace hpx_engine_placeholder { int unused = 0; }
