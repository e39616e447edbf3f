// Logic classes whose families this version of the library does not serve.
// Each line gives an object that exists and is selected by its type codes,
// but whose Open fails with 999999 and the text "Brak obsługi urządzenia
// tego typu w tej wersji biblioteki", so the job is refused at start.
//
// To serve a family: delete its line(s) here and include the family's
// header in registry.cpp (see the comment at its top).
#pragma once

#define ORV_UNSERVED_CLASSES(ORV_UNSERVED) \
    ORV_UNSERVED(CEL_ECR)                  \
    ORV_UNSERVED(CEN_ECR)                  \
    ORV_UNSERVED(CHT_ECR)                  \
    ORV_UNSERVED(CMEL_ECR)                 \
    ORV_UNSERVED(CMX_ECR)
