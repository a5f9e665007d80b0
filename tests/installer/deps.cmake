set(AREA_LIBS holvar_installer holvar_txn_fs)
