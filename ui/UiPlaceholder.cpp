// Keeps the user-interface library non-empty until its first real source lands.
namespace hpx_ui_placeholder { int unused = 0; }
