set(AREA_LIBS holvar_txn_fs)
