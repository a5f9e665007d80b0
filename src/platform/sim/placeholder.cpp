// Placeholder so the library has a source until the machine model lands.
namespace holvar::sim {}
