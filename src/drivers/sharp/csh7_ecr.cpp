#include "drivers/sharp/csh7_ecr.h"

CSH7_ECR::CSH7_ECR() : CSharpLogic(m_protocol, SharpModel::S277) {}
