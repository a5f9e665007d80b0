// Keeps the test support library non-empty.
namespace holvar::test {}
