// Logic classes whose families this version of the library does not serve.
// Each line gives an object that exists and is selected by its type codes,
// but whose Open fails with 999999 and the text "Brak obsługi urządzenia
// tego typu w tej wersji biblioteki", so the job is refused at start.
//
// To serve a family: delete its line(s) here and include the family's
// header in registry.cpp (see the comment at its top).
#pragma once

#define ORV_UNSERVED_CLASSES(ORV_UNSERVED) \
    ORV_UNSERVED(CTN_ECR)                  \
    ORV_UNSERVED(CTA_ECR)                  \
    ORV_UNSERVED(CP3_ECR)                  \
    ORV_UNSERVED(CPE_ECR)                  \
    ORV_UNSERVED(CPF_ECR)                  \
    ORV_UNSERVED(CPC_ECR)                  \
    ORV_UNSERVED(CSH_ECR)                  \
    ORV_UNSERVED(CS5_ECR)                  \
    ORV_UNSERVED(CSH285_ECR)               \
    ORV_UNSERVED(CSH7_ECR)                 \
    ORV_UNSERVED(CSH277PS_ECR)             \
    ORV_UNSERVED(CSH9_ECR)                 \
    ORV_UNSERVED(CSH227_ECR)               \
    ORV_UNSERVED(CAD_ECR)                  \
    ORV_UNSERVED(CCR_ECR)                  \
    ORV_UNSERVED(COP_ECR)                  \
    ORV_UNSERVED(CD8_ECR)                  \
    ORV_UNSERVED(CEL_ECR)                  \
    ORV_UNSERVED(CEMS_ECR)                 \
    ORV_UNSERVED(CEN_ECR)                  \
    ORV_UNSERVED(CHI_ECR)                  \
    ORV_UNSERVED(CHT_ECR)                  \
    ORV_UNSERVED(CNCR_ECR)                 \
    ORV_UNSERVED(CLP_ECR)                  \
    ORV_UNSERVED(CLP16_ECR)                \
    ORV_UNSERVED(CDI_ECR)                  \
    ORV_UNSERVED(CDI500_ECR)               \
    ORV_UNSERVED(CMD_ECR)                  \
    ORV_UNSERVED(CMDUSB_ECR)               \
    ORV_UNSERVED(CMEL_ECR)                 \
    ORV_UNSERVED(CDG_ECR)                  \
    ORV_UNSERVED(CEP_ECR)                  \
    ORV_UNSERVED(CMX_ECR)                  \
    ORV_UNSERVED(CMP_ECR)
