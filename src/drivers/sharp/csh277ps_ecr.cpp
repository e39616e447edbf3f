#include "drivers/sharp/csh277ps_ecr.h"

CSH277PS_ECR::CSH277PS_ECR() : CSharpLogic(m_protocol, SharpModel::S277PS) {}
