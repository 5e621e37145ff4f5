// The socket layer's error codes, as Windows Sockets numbers them: the one error vocabulary of the
// socket layer on every system (the POSIX files translate errno into them at the edge).
#pragma once

namespace platform {

enum SocketError : int {
    kWSAEINTR = 10004,
    kWSAEBADF = 10009,
    kWSAEACCES = 10013,
    kWSAEFAULT = 10014,
    kWSAEINVAL = 10022,
    kWSAEMFILE = 10024,
    kWSAEWOULDBLOCK = 10035,
    kWSAENOTSOCK = 10038,
    kWSAEDESTADDRREQ = 10039,
    kWSAEMSGSIZE = 10040,
    kWSAEPROTONOSUPPORT = 10043,
    kWSAEAFNOSUPPORT = 10047,
    kWSAEADDRINUSE = 10048,
    kWSAEADDRNOTAVAIL = 10049,
    kWSAENETDOWN = 10050,
    kWSAENETUNREACH = 10051,
    kWSAECONNABORTED = 10053,
    kWSAECONNRESET = 10054,
    kWSAENOBUFS = 10055,
    kWSAENOTCONN = 10057,
    kWSAEHOSTUNREACH = 10065,
    kWSASYSNOTREADY = 10091,
    kWSAHOST_NOT_FOUND = 11001,
    kWSANO_DATA = 11004,  // the name is valid but has no entry of the kind asked
};

}  // namespace platform
