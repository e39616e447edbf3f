#include "drivers/sharp/csh285_ecr.h"

CSH285_ECR::CSH285_ECR() : CSharpLogic(m_protocol, SharpModel::S285) {}
