# The rules of the Windows calls that hold no Windows call themselves (buffer
# sizes, texts behind returned pointers, bounded waits), and the answers the
# Wine adapter rewrites. Header-only.
set(AREA_LIBS holvar_platform)
